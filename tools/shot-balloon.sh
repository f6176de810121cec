#!/usr/bin/env bash
# Screenshots of the tray's key-arrival notice in English and in simplified
# Chinese, on a Wine virtual desktop with a taskbar: docs/balloon-en.png and
# docs/balloon-zh.png. Builds x86_64 first (QUENDRAL_BUILD_ROOT as for build.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/tools/build.sh" x86_64
BUILD="${QUENDRAL_BUILD_ROOT:-$ROOT/build}/x86_64"
DEMO="$BUILD/tests/bin/traydemo.exe"
[ -f "$DEMO" ] || { echo "shot-balloon: $DEMO missing" >&2; exit 1; }

source "$ROOT/tools/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$BUILD/shotprefix" 1024x768

shot() {  # shot LCID OUTPUT
  local lcid="$1" out="$2"
  "$WINE64" explorer /desktop=Quendral,1024x768 "$DEMO" "$lcid" 12000 >"$BUILD/shot-$lcid.log" 2>&1 &
  local pid=$!
  sleep 7  # desktop up, icon added, balloon shown
  # The lower-right corner: the notification area with the balloon.
  import -display "$DISPLAY" -window root -crop 480x200+544+568 +repage "$out"
  wait "$pid" || true
  echo "shot-balloon: $out"
}

mkdir -p "$ROOT/docs"
shot 1033 "$ROOT/docs/balloon-en.png"
shot 2052 "$ROOT/docs/balloon-zh.png"
