#!/bin/sh
# Starts the real program on a private X server and waits for its window.
# usage: smoke.sh path/to/essaimeur
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "smoke: Xvfb or xdotool missing: skipped"; exit 77; }
for n in 71 72 73 74 75 76 77 78 79; do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }; done
[ -n "${display:-}" ] || { echo "smoke: no free display: skipped"; exit 77; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 & server=$!
trap 'kill $app $server 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
DISPLAY=$display QT_QPA_PLATFORM=xcb "$1" & app=$!
DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name "^Essaimeur par Mervane   Version 1.02$" >/dev/null || { echo "smoke: no window within 20 s"; exit 1; }
kill -0 $app 2>/dev/null || { echo "smoke: the program ended early"; exit 1; }
echo "smoke: window shown"
