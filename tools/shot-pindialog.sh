#!/usr/bin/env bash
# Screenshot of the PIN-dialog stand-in in simplified Chinese, brought up by
# the program's own VerifyKeyPin on a software key: docs/pindialog-zh.png.
# The wrong PIN typed first makes the dialog show its Chinese notice, too.
# Runs on a Wine virtual desktop under a private Xvfb (tools/wine-env.sh) and
# grabs the screen with ImageMagick's import.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${QUENDRAL_BUILD_ROOT:-$ROOT/build}/x86_64"
[ -f "$BUILD/CMakeCache.txt" ] || "$ROOT/tools/build.sh" x86_64
cmake --build "$BUILD" --target pinshot softskf softui >/dev/null
EXE="$BUILD/tests/bin/pinshot.exe"
[ -x "$EXE" ] || { echo "shot-pindialog: $EXE missing" >&2; exit 1; }
source "$ROOT/tools/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$BUILD/pinshotprefix" 640x400

# One software key (stubs/skf/README.md).
KEYS="$BUILD/pinshot-keys"
rm -rf "$KEYS" && mkdir -p "$KEYS"
DEV='\\?\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#0001#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}'
cat >"$KEYS/key1.key" <<KEY
[device]
name=$DEV
label=Demo
apps=APP1
[app.APP1]
user_pin=12345678
user_max=6
user_remain=6
KEY

export WINEPATH="Z:${BUILD//\//\\}\\bin"
export SOFTSKF_DIR="Z:${KEYS//\//\\}"
# A Chinese (PRC) locale for the Wine processes: GetSystemDefaultLCID then
# answers 2052 (and the ANSI code page is 936), so the dialog picks its
# language exactly as it does on a Chinese system.
export SOFTUI_DELAY_MS=500
export SOFTUI_SCRIPT="type:1111;wait:8000;cancel"
mkdir -p "$ROOT/docs"
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$WINE64" explorer /desktop=pindialog,640x400 "$EXE" verify "$DEV" >"$BUILD/pinshot.out" 2>&1 &
pid=$!
sleep 5
import -window root "$ROOT/docs/pindialog-zh.png"
wait "$pid" || true
echo "docs/pindialog-zh.png ($(tr -d '\r' <"$BUILD/pinshot.out" | tail -n 1))"
