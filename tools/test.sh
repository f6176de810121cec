#!/usr/bin/env bash
# Builds both targets and runs every test under 64-bit Wine in a fresh prefix.
# Arguments go to ctest (e.g. -R keyops). QUENDRAL_BUILD_ROOT moves the build
# folders; QUENDRAL_SKIP_I686=1 skips the 32-bit compile while iterating.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/tools/setup.sh"
echo "== build x86_64"
"$ROOT/tools/build.sh" x86_64
if [ -z "${QUENDRAL_SKIP_I686:-}" ]; then
  echo "== build i686 (compile only)"
  "$ROOT/tools/build.sh" i686
fi
source "$ROOT/tools/wine-env.sh"
trap wine_env_stop EXIT
echo "== wine prefix"
BUILD="${QUENDRAL_BUILD_ROOT:-$ROOT/build}/x86_64"
wine_env_start "$BUILD/wineprefix"
echo "== ctest"
cd "$BUILD"
ctest -j"$(nproc)" --output-on-failure --timeout 300 "$@"
