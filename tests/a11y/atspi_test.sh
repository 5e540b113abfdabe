#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window as a screen reader sees it: a private session bus and
# accessibility bus, the program with the simulated radio, and
# atspi_check.py asking AT-SPI. Needs an X server (ctest runs under
# scripts/with-x) and Debian's python3-pyatspi, at-spi2-core and dbus.
set -euo pipefail
bin="$1"
here=$(cd "$(dirname "$0")" && pwd)
if [ "${2:-}" != inside ]; then exec dbus-run-session -- "$0" "$bin" inside; fi

work=$(mktemp -d /tmp/torvak-a11y.XXXXXX)
cleanup() { kill "${ptt:-}" "${bus:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus=$!
mkdir -m 700 "$work/run" "$work/config"
printf '[Devices]\nCOM1=%s\n' "$work/radio" >"$work/config/VARN.conf"
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$bin/radio-sim" --link "$work/radio" >/dev/null &
sim=$!
for _ in $(seq 1 50); do [ -e "$work/radio" ] && break; sleep 0.1; done
"$bin/torvak-ptt" 2>"$work/err" &
ptt=$!
for _ in $(seq 1 50); do [ -S "$work/run/TORVAKFUNC" ] && break; sleep 0.1; done
status=0
timeout 60 /usr/bin/python3 "$here/atspi_check.py" "$sim" "$bin/torvakfunc" || status=$?
kill "$sim" 2>/dev/null || true
exit "$status"
