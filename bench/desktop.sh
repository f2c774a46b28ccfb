# Sourced by the benchmarks that run the clock on a desktop of their own (run from the top folder).

# program_folder DIR [INTERVAL [FROM]]: a program folder with a complete set of settings, so that no
# dialog stands open beside the clock, copied from FROM (default build/Vellumine); prints DIR.
program_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp -r "${3:-build/Vellumine}/." "$dir/"
  rm -rf "$dir/★MailData" && mkdir "$dir/★MailData"
  printf 'SMTP=\r\nPOP3=pop.example.org\r\nMAIL=\r\nAPOP=0\r\n' >"$dir/qorvel.ini"
  printf '[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\n' >"$dir/★MailData/iniIdPass.ini"
  printf '[EXEINI]\r\nNUMBER2=%s\r\n' "${2:-0}" >"$dir/★MailData/ini.ini"
  echo "$dir"
}

# start_x: an X server with a window manager; sets x_display and x_pid, and adds to pids.
start_x() {
  local fifo number
  fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -noreset -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  x_pid=$!; pids+=("$x_pid")
  read -r -t 20 number <"$fifo"; rm -f "$fifo"
  x_display=":$number"
  DISPLAY=$x_display openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 200); do
    DISPLAY=$x_display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  echo "the window manager on $x_display did not come up" >&2
}
