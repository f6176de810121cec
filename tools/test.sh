#!/usr/bin/env bash
# Builds both targets and runs every test under 64-bit Wine in a fresh prefix.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/tools/setup.sh"
echo "== build x86_64"
"$ROOT/tools/build.sh" x86_64
echo "== build i686 (compile only)"
"$ROOT/tools/build.sh" i686 -DQUENDRAL_TESTS=ON
source "$ROOT/tools/wine-env.sh"
trap wine_env_stop EXIT
echo "== wine prefix"
wine_env_start "$ROOT/build/x86_64/wineprefix"
echo "== ctest"
cd "$ROOT/build/x86_64"
ctest -j"$(nproc)" --output-on-failure --timeout 300 "$@"
