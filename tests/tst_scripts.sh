#!/usr/bin/env bash
# The scripts' helpers where a mistake costs a user something (an unrelated
# process killed, settings overwritten, a sandbox without its sample), and
# the program's start without a display.
#
#   tst_scripts.sh PATH-TO-VELQUIN
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/common.sh"

velquin=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/velquin-scripts.XXXXXX")
bystander=
cleanup() {
  stop_private_server "$work/sandbox"
  [[ -n $bystander ]] && kill "$bystander" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0
check() {
  if "${@:2}"; then passed=$((passed + 1)); echo "PASS: $1"
  else failed=$((failed + 1)); echo "FAIL: $1"; fi
}

headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$velquin" "$@"; }
help_works() { [[ $(headless --help) == Usage:* ]]; }
version_works() { [[ $(headless --version) =~ ^velquin\ [0-9]+\.[0-9]+ ]]; }
no_display_says_so() {
  local out rc
  out=$(headless 2>&1); rc=$?
  ((rc == 1)) && [[ $(wc -l <<<"$out") == 1 && $out == *display* ]]
}
check "--help without a display" help_works
check "--version without a display" version_works
check "a start without a display says so in one line" no_display_says_so

stale_pid_is_left_alone() {
  sleep 600 &
  bystander=$!
  mkdir -p "$work/stale"
  echo "$bystander" >"$work/stale/pid"
  ! our_server_pid "$work/stale" >/dev/null && stop_private_server "$work/stale" && sleep 0.2 &&
    kill -0 "$bystander"
}
check "a stale pid file naming a live unrelated process is left alone" stale_pid_is_left_alone

settings_are_ours_only() {
  local home=$work/home ini=$work/home/database.ini
  mkdir -p "$home"
  write_sandbox_settings "$home" 3307 "$work/sandbox" &&
    [[ $(<"$ini") == shop,velquin,velquin,127.0.0.1:3307 && $(stat -c %a "$ini") == 600 ]] &&
    write_sandbox_settings "$home" 3308 "$work/sandbox" && [[ $(<"$ini") == *:3308 ]] || return 1
  printf 'mine,pw,me,db.local' >"$ini"
  ! write_sandbox_settings "$home" 3309 "$work/sandbox" && [[ $(<"$ini") == mine,pw,me,db.local ]]
}
check "database.ini is rewritten only while it is the sandbox's own" settings_are_ours_only

interrupted_load_is_rebuilt() {
  local port pid rows
  # What a load cut short leaves: a data directory and no marker.
  mkdir -p "$work/sandbox/data/mysql" && touch "$work/sandbox/data/half-loaded"
  port=$(free_port)
  start_sandbox "$work/sandbox" "$port" >/dev/null || return 1
  [[ -f $work/sandbox/$VELQUIN_SAMPLE_MARKER && ! -e $work/sandbox/data/half-loaded ]] || return 1
  rows=$(mariadb --no-defaults -h127.0.0.1 -P"$port" -uvelquin -p"$VELQUIN_SANDBOX_PASSWORD" shop \
    -N -e 'select count(*) from 注文') && ((rows > 0)) || return 1
  pid=$(our_server_pid "$work/sandbox") && stop_private_server "$work/sandbox" && ! kill -0 "$pid" 2>/dev/null
}
check "an interrupted sample load is made anew, and the sandbox stops" interrupted_load_is_rebuilt

echo "$passed passed, $failed failed"
((failed == 0))
