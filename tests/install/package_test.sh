#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package, checks it with lintian down to its pedantic tags,
# installs it into a temporary root, checks what a desktop needs is there,
# then runs the installed programs against the simulated radio.
set -euo pipefail
build="$1"
. "$(dirname "$0")/../../scripts/sandbox"
sandbox_start "$build/bin"
trap sandbox_stop EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$sandbox" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || { cat "$sandbox/cpack.log"; fail cpack; }
deb=$(ls "$sandbox"/torvak-ptt_*.deb)
lintian --pedantic --fail-on error,warning,pedantic "$deb" >"$sandbox/lintian.log" 2>&1 || { cat "$sandbox/lintian.log"; fail lintian; }
fields="$(dpkg-deb -f "$deb" Depends) | $(dpkg-deb -f "$deb" Recommends)"
for needed in libqt6widgets6 libqt6serialport6 qt6-qpa-plugins '|.*qt6-wayland'; do
  grep -q "$needed" <<<"$fields" || fail "the package lacks $needed: $fields"
done
wine=""
[ -x "$build/bin/torvak-wine-bridge" ] && wine="usr/bin/torvak-wine-bridge usr/libexec/torvak-ptt/torvak-wine-bridge.exe.so"
[ -z "$wine" ] || { grep -q "|.*wine64" <<<"$fields" && ! dpkg-deb -f "$deb" Depends | grep -q wine; } || fail "wine64 should be recommended, not required: $fields"

root="$sandbox/root"
dpkg-deb -x "$deb" "$root"
app=usr/share/applications/org.torvak.TorvakPtt.desktop
for f in usr/bin/torvak-ptt usr/bin/torvakfunc $app usr/share/icons/hicolor/scalable/apps/torvak-ptt.svg \
         usr/share/metainfo/org.torvak.TorvakPtt.metainfo.xml usr/share/doc/torvak-ptt/copyright \
         usr/share/doc/torvak-ptt/changelog.gz $wine; do
  [ -e "$root/$f" ] || fail "$f is not installed"
done
grep -q '^Exec=torvak-ptt$' "$root/$app" && grep -q '^Icon=torvak-ptt$' "$root/$app" && desktop-file-validate "$root/$app" ||
  fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.torvak.TorvakPtt.metainfo.xml" >/dev/null || fail "AppStream metadata"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  [ -z "$(man -l "$page" 2>&1 >/dev/null)" ] && man -l "$page" 2>/dev/null | grep -q SYNOPSIS || fail "man page $page"
done

# Help, version and a missing display open nothing: no socket, and the radio's
# line as it was (at 1200 baud; opening the port would set 9600).
stty -F "$sandbox/radio" 1200
line=$(stty -F "$sandbox/radio" -g)
"$root/usr/bin/torvak-ptt" --help | grep -q '^usage: torvak-ptt' || fail "torvak-ptt --help"
"$root/usr/bin/torvak-ptt" -v | grep -q '^torvak-ptt [0-9]' || fail "torvak-ptt -v"
"$root/usr/bin/torvakfunc" --version | grep -q '^torvakfunc [0-9]' || fail "torvakfunc --version"
said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/torvak-ptt" 2>&1) && fail "ran with no display"
[ "$(wc -l <<<"$said")" = 1 ] && grep -q 'no display' <<<"$said" || fail "no display, in one line: $said"
[ ! -e "$sandbox/run/TORVAKFUNC" ] && [ "$(stty -F "$sandbox/radio" -g)" = "$line" ] || fail "the socket or the radio's line was opened"

QT_QPA_PLATFORM=offscreen "$root/usr/bin/torvak-ptt" &
ptt=$!
sandbox_wait_link
for command in tx rx close; do "$root/usr/bin/torvakfunc" $command; done
wait "$ptt" || fail "the installed torvak-ptt exited with $?"
for _ in $(seq 1 20); do [ "$(sandbox_received | wc -l)" -ge 2 ] && break; sleep 0.1; done
[ "$(sandbox_received | tr '\n' ' ')" = "TX RX " ] || fail "the radio received: $(sandbox_received)"
echo "installed package keyed the radio: TX RX"
