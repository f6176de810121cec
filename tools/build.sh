#!/usr/bin/env bash
# Configures and builds one target: tools/build.sh x86_64|i686 [extra cmake args]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
ARCH="${1:-x86_64}"; shift || true
BUILD="${QUENDRAL_BUILD_ROOT:-$ROOT/build}/$ARCH"
EXTRA=()
if [ "$ARCH" = "x86_64" ]; then
  EXTRA+=("-DCMAKE_CROSSCOMPILING_EMULATOR=$ROOT/tools/wine-exec")
fi
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$ARCH.cmake" "${EXTRA[@]}" "$@" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
