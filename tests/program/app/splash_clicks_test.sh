#!/usr/bin/env bash
# The real LUMO2020 under a private X server, clicked on its splash as an
# operator would (xdotool): one double click, then 30 clicks 100 ms apart,
# both while the start-up waits. Each run must bring up the main window and
# the connection dialog, lose the splash, and end with exit code 0 and no
# sanitizer report once the operator cancels the dialog and quits (Ctrl+Q).
#
#   splash_clicks_test.sh path/to/LUMO2020
#
# The splash's own re-entry frees it inside Qt, which is not instrumented:
# freed memory is filled (max_free_fill_size) so that Qt's later use of it
# faults instead of reading intact leftovers. Every wait is bounded; the
# program is killed by its process id if anything fails.
set -euo pipefail

if [ "${1:-}" != --inner ]; then
  program=$(realpath "${1:?usage: splash_clicks_test.sh path/to/LUMO2020}")
  for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps installs it)"; exit 1; }
  done
  # Our own server whatever DISPLAY says; -noreset keeps the pointer where
  # we put it between clients. xvfb-run ends the server with us.
  unset DISPLAY
  exec timeout -k 10 280 xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp -noreset" "$0" --inner "$program"
fi
program=$2

WORK=$(mktemp -d /tmp/koru-splash.XXXXXX)
APP_PID=""
cleanup() {
  if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
    kill -9 "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($CASE): $*"
  if [ -n "$APP_PID" ] && ! kill -0 "$APP_PID" 2>/dev/null; then
    local rc=0
    wait "$APP_PID" || rc=$?
    APP_PID=""
    echo "  the program ended with exit code $rc"
  fi
  [ -f "$WORK/$CASE.log" ] && sed 's/^/  | /' "$WORK/$CASE.log" | tail -60
  exit 1
}

# Visible windows of the program whose name matches $1 (an extended regex).
windows() {
  xdotool search --onlyvisible --name "$1" 2>/dev/null || true
}

# until_true SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds
# or the time is up (then returns 1). A hang guard for a slow machine.
until_true() {
  local end=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$end" ] || return 1
    kill -0 "$APP_PID" 2>/dev/null || return 1
    sleep 0.1
  done
}

splash_visible() {
  SPLASH=$(xdotool search --onlyvisible --class '^LUMO2020$' 2>/dev/null | head -1 || true)
  [ -n "$SPLASH" ]
}
splash_gone() { ! xdotool search --onlyvisible --class '^LUMO2020$' 2>/dev/null | grep -qx "$SPLASH"; }
dialog_up() {
  DIALOG=$(windows '^Connect to System$' | head -1)
  [ -n "$DIALOG" ]
}
dialog_gone() { [ -z "$(windows '^Connect to System$')" ]; }
main_up() {
  MAIN=$(windows '^LUMO2020$' | grep -vx "$SPLASH" | head -1 || true)
  [ -n "$MAIN" ]
}
exited() { ! kill -0 "$APP_PID" 2>/dev/null; }

# run_case NAME CLICKS DELAY_MS
run_case() {
  CASE=$1
  local clicks=$2 delay=$3
  mkdir -p "$WORK/$CASE/config"
  (
    cd "$WORK/$CASE"
    export XDG_CONFIG_HOME=$WORK/$CASE/config QT_QPA_PLATFORM=xcb
    export ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0:max_free_fill_size=1048576
    export UBSAN_OPTIONS=print_stacktrace=1
    exec "$program"
  ) >"$WORK/$CASE.log" 2>&1 &
  APP_PID=$!

  # The first window shown is the splash (the main window waits 3 s).
  until_true 120 splash_visible || fail "no splash appeared"
  eval "$(xdotool getwindowgeometry --shell "$SPLASH")"
  # Near the splash's lower right corner: clear of where the main window
  # and the connection dialog come up, should a late click miss the splash.
  xdotool mousemove $((X + WIDTH - 10)) $((Y + HEIGHT - 10))
  eval "$(xdotool getmouselocation --shell)"
  [ "$WINDOW" = "$SPLASH" ] || fail "the pointer is not over the splash"
  xdotool click --repeat "$clicks" --delay "$delay" 1

  until_true 120 main_up || fail "the main window did not come up"
  until_true 120 dialog_up || fail "the connection dialog did not open"
  until_true 60 splash_gone || fail "the splash is still shown"

  # No window manager gives the focus: it is set on the window that gets
  # the keys. Escape cancels the dialog, Ctrl+Q quits from the main window.
  xdotool windowfocus "$DIALOG"
  xdotool key Escape
  until_true 60 dialog_gone || fail "Escape did not close the connection dialog"
  xdotool windowfocus "$MAIN"
  xdotool key ctrl+q
  until_true 120 exited || true
  exited || fail "the program did not end after Ctrl+Q"
  local rc=0
  wait "$APP_PID" || rc=$?
  APP_PID=""
  [ "$rc" = 0 ] || fail "exit code $rc"
  if grep -q "ERROR: AddressSanitizer\|runtime error:" "$WORK/$CASE.log"; then
    fail "sanitizer report"
  fi
  echo "ok ($CASE)"
}

run_case double-click 2 80
run_case 30-clicks-100ms-apart 30 100
