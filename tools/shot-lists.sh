#!/usr/bin/env bash
# Screenshots of the owner-drawn lists with key and certificate rows, in
# English and in simplified Chinese: docs/lists-en.png, docs/lists-zh.png.
# Builds listshot (tests/controls) if needed; runs it on a Wine virtual desktop
# under a private Xvfb and grabs the screen with ImageMagick's import.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${QUENDRAL_BUILD_ROOT:-$ROOT/build}/x86_64"
[ -f "$BUILD/CMakeCache.txt" ] || "$ROOT/tools/build.sh" x86_64
cmake --build "$BUILD" --target listshot >/dev/null
EXE="$BUILD/tests/bin/listshot.exe"
[ -x "$EXE" ] || { echo "shot-lists: $EXE missing" >&2; exit 1; }
source "$ROOT/tools/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$BUILD/shotprefix" 720x470
mkdir -p "$ROOT/docs"
for lang in en:1033 zh:2052; do
  name="${lang%%:*}" lcid="${lang##*:}"
  "$WINE64" explorer /desktop=lists,720x470 "$EXE" "$lcid" 9 >/dev/null 2>&1 &
  pid=$!
  sleep 6
  import -window root "$ROOT/docs/lists-$name.png"
  wait "$pid" || true
  echo "docs/lists-$name.png"
done
