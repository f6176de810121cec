#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12. Idempotent:
# packages already present are not fetched again.
set -euo pipefail
PKGS=(wine wine64 mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      cmake make xvfb xauth x11-utils openssl googletest imagemagick fonts-wqy-microhei python3)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# wine32 makes the wine launcher pick the 32-bit loader, which cannot run here.
if dpkg-query -W -f='${Status}' wine32 2>/dev/null | grep -q "install ok installed"; then
  echo "setup: wine32 is installed; tests use /usr/lib/wine/wine64 directly" >&2
fi
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
