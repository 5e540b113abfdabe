#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# torvak-wine-bridge: starts the Windows side of torvak-ptt's host link in the
# current Wine prefix (WINEPREFIX, else ~/.wine), so that Windows host programs
# there key the radio through the "TORVAKFUNC" window message.
set -eu
here=$(dirname "$(readlink -f "$0")")
bridge=""
for candidate in "$here/torvak-wine-bridge.exe.so" "$here/../libexec/torvak-ptt/torvak-wine-bridge.exe.so"; do
  if [ -f "$candidate" ]; then bridge=$candidate; break; fi
done
if [ -z "$bridge" ]; then
  echo "torvak-wine-bridge: the bridge program is missing (looked beside $here)" >&2
  exit 1
fi
case "${1:-}" in
  -h|--help)
    echo "usage: [WINEPREFIX=DIR] torvak-wine-bridge"
    echo "Starts the hidden window \"TORVAK TenTec PTT V3\" in the Wine prefix; the TORVAKFUNC"
    echo "messages that Windows host programs send it key the radio through a running torvak-ptt."
    exit 0 ;;
  "") ;;
  *) echo "usage: [WINEPREFIX=DIR] torvak-wine-bridge" >&2; exit 2 ;;
esac
wine=$(command -v wine || command -v wine64 || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
  echo "torvak-wine-bridge: Wine is not installed; on Debian: sudo apt install wine64 wine" >&2
  exit 1
fi
: "${WINEDEBUG:=-all}"
export WINEDEBUG
exec "$wine" "$bridge"
