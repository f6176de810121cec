#!/usr/bin/env bash
# The main job under Wine with a simulated key plugged in: builds the program,
# writes a software key (with freshly generated certificates) into a demo key
# folder next to the program, and runs it in a fresh Wine prefix.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/tools/setup.sh"
echo "== build x86_64"
"$ROOT/tools/build.sh" x86_64
BUILD="${QUENDRAL_BUILD_ROOT:-$ROOT/build}/x86_64"
BIN="$BUILD/bin"
DEMO="$BUILD/demo"
KEYS="$DEMO/keys"

echo "== demo key"
"$ROOT/tools/gen-test-certs.sh" "$DEMO/certs"
rm -rf "$KEYS"
mkdir -p "$KEYS"
cp "$DEMO/certs/rsa_sign.der" "$DEMO/certs/rsa_exch.der" "$DEMO/certs/sm2_sign.der" "$DEMO/certs/rsa_expiring.der" "$KEYS/"
# Key files are INI files (stubs/skf/README.md); Wine reads them as ANSI.
cat >"$KEYS/demo1.key" <<'KEY'
[device]
name=\\?\USBSTOR#CDROM&VEN_VESTRA&PROD_KYREL_QOR&REV_2.00#DEMO0001#{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}
present=1
label=Demo Key
serial=DEMO0000000000000001
manufacturer=Vestra
issuer=Vestra
oem=7F000001
apps=APP1

[app.APP1]
user_pin=12345678
user_max=6
user_remain=5
user_default=0
so_pin=88888888
containers=RSA,SM2

[container.APP1.RSA]
sign=rsa_sign.der
exchange=rsa_exch.der

[container.APP1.SM2]
sign=sm2_sign.der
exchange=rsa_expiring.der
KEY

source "$ROOT/tools/wine-env.sh"
trap wine_env_stop EXIT
echo "== wine prefix"
wine_env_start "$DEMO/wineprefix"
export SOFTSKF_DIR="Z:${KEYS//\//\\}"
echo "== keys present (listkeys.exe, through the program's token binding)"
"$WINE64" "$BIN/listkeys.exe" --register
