#!/usr/bin/env bash
# Runs a command inside a private X server (Xvfb) with a window manager (openbox), as a desktop
# would have, and takes both down afterwards. The display number is picked by Xvfb itself, so runs
# in parallel do not collide. Usage: with-x-server.sh COMMAND [ARGS...]
set -u
fifo=$(mktemp -u)
mkfifo "$fifo"
# -noreset: by default the server resets whenever its last client leaves, and refuses connections
# while it does. The poll below for the window manager is such a client; when it left before a slow
# openbox had connected, openbox found no display ("Failed to open the display") and the tests no
# window manager.
Xvfb -noreset -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 number <"$fifo"
rm -f "$fifo"
if [[ -z ${number:-} ]]; then
  echo "with-x-server: Xvfb did not start" >&2
  kill "$xvfb" 2>/dev/null
  exit 1
fi
export DISPLAY=":$number"
export QT_QPA_PLATFORM=xcb
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# Wait until the window manager has announced itself, so windows are managed from the start (the
# tests find windows through its client list). On a loaded machine that can take seconds.
managed=0
for _ in $(seq 600); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then managed=1; break; fi
  sleep 0.05
done
[[ $managed -eq 1 ]] || echo "with-x-server: the window manager did not come up within 30 s" >&2
"$@"
status=$?
kill "$wm" "$xvfb" 2>/dev/null
wait "$wm" "$xvfb" 2>/dev/null
exit "$status"
