#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package, installs it into a temporary root, checks what a
# desktop needs is there and the dependencies are declared, then keys the
# simulated radio with the installed programs.
set -euo pipefail
build="$1"
work=$(mktemp -d /tmp/torvak-package.XXXXXX)
cleanup() { kill "${sim:-}" "${ptt:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/torvak-ptt_*.deb)
# What Debian's checker finds is a fault here too, down to its pedantic tags.
lintian --pedantic --fail-on error,warning,pedantic "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --pedantic --fail-on error,warning,pedantic "$deb" >/dev/null 2>&1 || fail "lintian"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
done

recommends=$(dpkg-deb -f "$deb" Recommends)
grep -q qt6-wayland <<<"$recommends" || fail "the package does not recommend qt6-wayland"
if [ -x "$build/bin/torvak-wine-bridge" ]; then
  grep -q wine64 <<<"$recommends" || fail "the package does not recommend wine64"
  grep -q wine <<<"$depends" && fail "the package depends on Wine: $depends"
fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/torvak-ptt usr/bin/torvakfunc \
         usr/share/applications/org.torvak.TorvakPtt.desktop \
         usr/share/icons/hicolor/scalable/apps/torvak-ptt.svg \
         usr/share/metainfo/org.torvak.TorvakPtt.metainfo.xml \
         usr/share/man/man1/torvak-ptt.1.gz usr/share/man/man1/torvakfunc.1.gz \
         usr/share/doc/torvak-ptt/copyright usr/share/doc/torvak-ptt/changelog.gz; do
  [ -e "$root/$f" ] || fail "$f is not installed"
done
if [ -x "$build/bin/torvak-wine-bridge" ]; then
  for f in usr/bin/torvak-wine-bridge usr/libexec/torvak-ptt/torvak-wine-bridge.exe.so \
           usr/share/man/man1/torvak-wine-bridge.1.gz; do
    [ -e "$root/$f" ] || fail "$f is not installed"
  done
  "$root/usr/bin/torvak-wine-bridge" --help | grep -q WINEPREFIX || fail "the installed bridge does not find itself"
fi
grep -q '^Exec=torvak-ptt$' "$root/usr/share/applications/org.torvak.TorvakPtt.desktop" || fail "desktop entry Exec"
grep -q '^Icon=torvak-ptt$' "$root/usr/share/applications/org.torvak.TorvakPtt.desktop" || fail "desktop entry Icon"
desktop-file-validate "$root/usr/share/applications/org.torvak.TorvakPtt.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.torvak.TorvakPtt.metainfo.xml" >/dev/null \
  || appstreamcli validate --no-net "$root/usr/share/metainfo/org.torvak.TorvakPtt.metainfo.xml" || fail "AppStream metadata"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  man -l "$page" 2>&1 >/dev/null | grep -q . && fail "man page $page has errors"
  man -l "$page" 2>/dev/null | grep -q 'SYNOPSIS' || fail "man page $page does not render"
done

# The installed programs, end to end against the simulated radio.
mkdir -m 700 "$work/run" "$work/config"
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
"$build/bin/radio-sim" --link "$work/radio" >"$work/radio.log" &
sim=$!
for _ in $(seq 1 50); do [ -e "$work/radio" ] && break; sleep 0.1; done
printf '[Devices]\nCOM1=%s\n' "$work/radio" >"$work/config/VARN.conf"
# Help and version open nothing: no socket, and the radio's line as it was
# (at 1200 baud; opening the port would set 9600).
stty -F "$work/radio" 1200
line=$(stty -F "$work/radio" -g)
"$root/usr/bin/torvak-ptt" --help | grep -q '^usage: torvak-ptt' || fail "torvak-ptt --help"
"$root/usr/bin/torvak-ptt" --version | grep -q '^torvak-ptt [0-9]' || fail "torvak-ptt --version"
"$root/usr/bin/torvakfunc" --version | grep -q '^torvakfunc [0-9]' || fail "torvakfunc --version"
[ ! -e "$work/run/TORVAKFUNC" ] || fail "--help or --version opened the socket"
[ "$(stty -F "$work/radio" -g)" = "$line" ] || fail "--help or --version touched the radio's line"
"$root/usr/bin/torvak-ptt" &
ptt=$!
for _ in $(seq 1 50); do [ -S "$work/run/TORVAKFUNC" ] && break; sleep 0.1; done
"$root/usr/bin/torvakfunc" tx
"$root/usr/bin/torvakfunc" rx
"$root/usr/bin/torvakfunc" close
status=0
wait "$ptt" || status=$?
ptt=""
[ "$status" -eq 0 ] || fail "the installed torvak-ptt exited with $status"
for _ in $(seq 1 20); do [ "$(tail -n +2 "$work/radio.log" | wc -l)" -ge 2 ] && break; sleep 0.1; done
received=$(tail -n +2 "$work/radio.log" | tr '\n' ' ')
[ "$received" = "TX RX " ] || fail "the radio received: $received"
echo "installed package keyed the radio: $received"
