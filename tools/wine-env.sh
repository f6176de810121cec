# Sourced by test.sh and demo.sh: a fresh Wine prefix with a live wineserver
# and an X display, all ended by wine_env_stop (also on failure, via trap).
# Usage: wine_env_start PREFIX_DIR [WIDTHxHEIGHT]
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
QX_PID=""

wine_env_start() {
  local prefix="$1" geometry="${2:-1280x800}"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A free X display of our own.
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${geometry}x24" -nolisten tcp >"$prefix.xvfb.log" 2>&1 &
  QX_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  "$WINE64" wineboot -i >"$prefix.boot.log" 2>&1 || true
  "$WINESERVER" -w
  # CJK glyphs: map the dialog fonts to a CJK font (the system does this on Windows).
  # regedit takes Unicode .reg files as UTF-16LE with a BOM (for the CJK face name).
  printf '\xff\xfe' >"$prefix.fonts.reg"
  iconv -f UTF-8 -t UTF-16LE >>"$prefix.fonts.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Tahoma"="WenQuanYi Micro Hei"
"MS Shell Dlg"="WenQuanYi Micro Hei"
"MS Shell Dlg 2"="WenQuanYi Micro Hei"
"MS Sans Serif"="WenQuanYi Micro Hei"
"SimHei"="WenQuanYi Micro Hei"
"黑体"="WenQuanYi Micro Hei"
REG
  "$WINE64" regedit "$prefix.fonts.reg" >/dev/null 2>&1 || true
  "$WINESERVER" -w
  touch "$prefix/.quendral-test-prefix"
  # Keep one server alive for the whole run: each process start is then cheap.
  "$WINESERVER" -p >/dev/null 2>&1
  "$WINE64" cmd /c exit >/dev/null 2>&1 || true
}

wine_env_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then "$WINESERVER" -k >/dev/null 2>&1 || true; fi
  if [ -n "$QX_PID" ]; then kill "$QX_PID" >/dev/null 2>&1 || true; wait "$QX_PID" 2>/dev/null || true; QX_PID=""; fi
}
