#!/usr/bin/env bash
# By hand, not in the suite: kills the real program (SIGKILL) at random moments while the settings
# dialog and the account dialog save, and counts
#   - saves left mixed (some of the keys one close or one OK saves new, some old),
#   - temp files a killed save left beside the settings files (seen before the next start), and
#   - temp files still there after the next start (the program's start-up removes them).
# Each kill: start the program from a scratch program folder, open the dialog, change every value
# it saves, close it (or press OK), wait a random 0 to ${MAX_DELAY_MS:-4} ms, kill.
# Usage: bench/kill_saves.sh [kills per dialog, 150]   (under an X server of its own)
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} != --inside ]]; then
  bash scripts/build.sh >/dev/null
  exec bash tests/support/with-x-server.sh bash "$0" --inside "${1:-150}"
fi
kills=$2
max_delay=${MAX_DELAY_MS:-4}

scratch=$(mktemp -d)
trap 'kill -9 "${pid:-0}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
cp -r build/Vellumine/. "$scratch/"
cd "$scratch"
rm -rf ★MailData && mkdir ★MailData
printf 'SMTP=\r\nPOP3=pop.example.org\r\nMAIL=\r\nAPOP=0\r\n' >qorvel.ini
printf '[EXEINI]\r\nNAME=id0\r\nNAME2=pw0\r\nNAME3=1\r\n' >★MailData/iniIdPass.ini
printf '[EXEINI]\r\nNUMBER=0\r\nNUMBER2=10\r\nNUMBER3=0\r\nNUMBER4=0\r\nNUMBER5=0\r\n' >★MailData/ini.ini

key() { sed -n "s/^$2=\\(.*\\)\\r\$/\\1/p" "★MailData/$1" | head -1; }
temps() { find ★MailData . -maxdepth 1 -name '.*.tmp' | wc -l; }
wait_window() {  # title (a regular expression); prints the window id
  local id
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.05
  done
  return 1
}
start() {
  ./vellumine >/dev/null 2>&1 &
  pid=$!
  clock=$(wait_window '^Orlavue') || { echo "no clock" >&2; exit 1; }
}
open_settings() {
  xdotool windowactivate --sync "$clock" key alt+f
  sleep 0.2
  xdotool key Down Down Down Return
  settings=$(wait_window '^設定$') || { echo "no settings dialog" >&2; exit 1; }
  xdotool windowactivate --sync "$settings"
}
click() {  # window x y (inside the window)
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
kill_soon() {
  local ms=$((RANDOM % (max_delay + 1)))
  ((ms == 0)) || sleep "$(printf '0.%03d' "$ms")"
  kill -9 "$pid"
  wait "$pid" 2>/dev/null || true
}

mixed_settings=0 old_settings=0 new_settings=0 mixed_account=0 old_account=0 new_account=0
left_by_kills=0 left_after_start=0
for dialog in settings account; do
  for i in $(seq "$kills"); do
    start
    left_after_start=$((left_after_start + $(temps)))
    if [[ $dialog == settings ]]; then
      old=$(for k in NUMBER NUMBER2 NUMBER3 NUMBER4 NUMBER5; do key ini.ini $k; done | tr '\n' ' ')
      read -r o1 o2 o3 o4 o5 <<<"$old"
      n2=$(( (o2 % 89) + 11 ))  # two digits, never 0: no save of its own while typed
      new="$((1 - o1)) $n2 $((1 - o3)) $((1 - o4)) $((1 - o5)) "
      open_settings
      click "$settings" 40 48     # hang up after a check
      click "$settings" 16 208    # notice board closes by itself
      click "$settings" 16 240    # start the mail program
      click "$settings" 16 272    # ghost cat
      click "$settings" 172 161   # the interval
      xdotool key ctrl+a type "$n2"
      xdotool key alt+F4
      kill_soon
      now=$(for k in NUMBER NUMBER2 NUMBER3 NUMBER4 NUMBER5; do key ini.ini $k; done | tr '\n' ' ')
      if [[ $now == "$old" ]]; then old_settings=$((old_settings + 1))
      elif [[ $now == "$new" ]]; then new_settings=$((new_settings + 1))
      else mixed_settings=$((mixed_settings + 1)); echo "mixed: was [$old] meant [$new] is [$now]"; fi
    else
      old="$(key iniIdPass.ini NAME) $(key iniIdPass.ini NAME2)"
      new="id$i pw$i"
      open_settings
      click "$settings" 80 20     # ID/PASS
      account=$(wait_window '^ID,PASS$') || { echo "no account dialog" >&2; exit 1; }
      xdotool windowactivate --sync "$account"
      xdotool key ctrl+a type "id$i"
      xdotool key Tab ctrl+a type "pw$i"
      xdotool key Tab Tab Tab space shift+Tab shift+Tab
      xdotool key Return
      kill_soon
      now="$(key iniIdPass.ini NAME) $(key iniIdPass.ini NAME2)"
      if [[ $now == "$old" ]]; then old_account=$((old_account + 1))
      elif [[ $now == "$new" ]]; then new_account=$((new_account + 1))
      else mixed_account=$((mixed_account + 1)); echo "mixed: was [$old] meant [$new] is [$now]"; fi
    fi
    left_by_kills=$((left_by_kills + $(temps)))
  done
done
start  # the last next start
left_after_start=$((left_after_start + $(temps)))
kill -9 "$pid"

echo "kills: $((2 * kills)) ($kills per dialog), random delay 0-${max_delay} ms after the close/OK key"
echo "settings dialog: all old $old_settings, all new $new_settings, mixed $mixed_settings"
echo "account dialog:  all old $old_account, all new $new_account, mixed $mixed_account"
echo "temp files left by the kills: $left_by_kills; still there after the next start: $left_after_start"
echo "iniIdPass.ini mode: $(stat -c %a ★MailData/iniIdPass.ini)"
