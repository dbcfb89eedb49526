#!/usr/bin/env bash
# Each velctl command against the running module and peers (started by
# scripts/tev.sh run): its output, its exit code, and what it changed.
#   usage: velctl_commands_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

v() { "$velctl" --host "$bus" --timeout 10000 "$@"; }
# expect CODE NAME COMMAND...: runs a velctl command into $work/NAME.out
# (standard output and error) and checks its exit code.
expect() {
  local code=$1 name=$2 status=0
  shift 2
  v "$@" >"$work/$name.out" 2>&1 || status=$?
  [ "$status" -eq "$code" ] || fail "velctl $* exited $status, not $code: $(cat "$work/$name.out")"
}
has() { grep -q -- "$2" "$work/$1.out" || fail "$1: no \"$2\" in: $(cat "$work/$1.out")"; }
# state_of ID: the STATE column of velctl list for ID.
state_of() { v list | awk -v id="$1" '$1 == id { print $2 }'; }
# wait_state ID REGEX: until the state of ID matches.
wait_state() {
  local i
  for ((i = 0; i < 300; i++)); do
    [[ "$(state_of "$1")" =~ ^($2)$ ]] && return 0
    sleep 0.1
  done
  fail "$1 did not become $2 (is $(state_of "$1"))"
}

start_stack
"$velctl" --host "$bus" watch --ready --poll 200 >"$work/watch.out" 2>&1 &
watch=$!
others+=("$watch")
wait_for "$work/watch.out" '^ready$' 30

expect 0 channels channels
has channels '^ch-testcard *Test Card *video/x-tv$'
# Without --host the settings file names the bus (and its credentials).
"$velctl" --timeout 10000 channels >"$work/channels-settings.out" 2>&1 ||
  fail "velctl without --host: $(cat "$work/channels-settings.out")"
has channels-settings '^ch-testcard *Test Card *video/x-tv$'
has channels '^ch-webcam *Desk Camera *video/x-inputdevice$'

expect 0 settings settings --padding 45 --free-space 300
has settings '^padding (s): 45$'
has settings '^free space required (MB): 300$'
has settings "^video folder: $work/run/documents/Recorded TV$"
expect 0 raw ZoVIZ GetPVRRecordPadding
has raw '"out": 45'

# Two TV tuners: two overlapping schedules fit, a third does not.
at=$(date -d '+3 hour' '+%Y-%m-%d %H:%M')
expect 0 later schedule --channel ch-bars --at "$at" --for 1h --name "Later" --keep AT_LEAST_3_DAYS
later=$(sed -n 's/^scheduled \(M[0-9]*\): "Later" on Colour Bars at .* for 1h$/\1/p' "$work/later.out")
[ -n "$later" ] || fail "schedule printed: $(cat "$work/later.out")"
expect 0 second schedule --channel "Mandelbrot" --at "$at" --for 30m --name "Second"
expect 1 third schedule --channel "Test Card" --at "$at" --for 30m --name "Third"
has third 'ZoVIZ refused ScheduleRecording: it conflicts with other schedules (101)'
expect 0 list list
has list "^$later *schedule *$at *1h *Colour Bars *Later$"
grep -q 'Third' "$work/list.out" && fail "the refused schedule is listed"
# A refused edit names the property and the reason.
expect 1 unskip TevMediaV2 UserEditMedium "[\"$later\", [[\"pvrState\", \"schedule\"]]]"
has unskip 'TevMediaV2 refused UserEditMedium: the change is refused (403): pvrState: only a skipped or conflicting schedule can be scheduled$'
expect 0 conflicts conflicts
has conflicts '^no conflicts$'
expect 0 conflicts-one conflicts "$later"

# A recording in progress: cancel stops it and keeps the row (partial, or
# error when it ran under 20 s).
expect 0 now schedule --channel "Test Card" --in 1s --for 10m --name "Now"
now=$(sed -n 's/^scheduled \(M[0-9]*\):.*/\1/p' "$work/now.out")
wait_state "$now" recording
# The watch has seen the start before the cancel ends it.
wait_for "$work/watch.out" "started $now \"Now\" on Test Card" 30
expect 0 cancel cancel "$now"
has cancel "^stopped $now$"
wait_state "$now" "partial|error"
# Retry records a schedule again from now on.
second=$(v list | awk '$NF == "Second" { print $1 }')
expect 0 retry retry "$second"
has retry "^retrying $second$"
wait_state "$second" recording
expect 1 cancel-unknown cancel M9999
has cancel-unknown 'no schedule or pass M9999 in the media library'

# A schedule still to come is removed, from the module and the library.
expect 0 remove cancel "$later"
has remove "^removed $later$"
v list | grep -q "^$later " && fail "$later still listed after cancel"
expect 0 passes passes
has passes '^ID *MODE *CHANNEL *PROGRAMME$'
offered=$(v ZoVIZ AddTevPass '[]' 2>&1 || true)
if [[ "$offered" == *"does not offer"* ]]; then
  echo "SKIP: pass add (the module does not offer AddTevPass)"
else
  expect 0 pass-add pass add --channel "Test Card" --at 21:00 --for 30m --name "Evening News" \
    --mode DAILY_AT_SAME_TIME --guide no
  pass=$(sed -n 's/^pass \(M[0-9]*\) added: DAILY_AT_SAME_TIME$/\1/p' "$work/pass-add.out")
  [ -n "$pass" ] || fail "pass add printed: $(cat "$work/pass-add.out")"
  expect 0 passes-after passes
  has passes-after "^$pass *DAILY_AT_SAME_TIME *Test Card *Evening News"
fi

expect 2 bad-channel schedule --channel "No Such Channel" --in 1m
has bad-channel 'no channel "No Such Channel" in the media library'
expect 2 bad-time schedule --channel "Test Card" --at 25:00
status=0
"$velctl" --host 127.0.0.1:1 list >"$work/no-bus.out" 2>&1 || status=$?
[ "$status" -eq 3 ] || fail "velctl with no bus exited $status, not 3"
has no-bus 'cannot join the bus at 127.0.0.1:1'

for line in "scheduled $later \"Later\" on Colour Bars at $at for 1h" "started $now \"Now\" on Test Card" \
  "removed $later \"Later\"" \
  "\(finished $now \"Now\": partial\|failed $now \"Now\": the recording failed (error)\)"; do
  wait_for "$work/watch.out" "$line" 30
done
kill -TERM "$watch"
wait "$watch" || fail "velctl watch did not end cleanly on SIGTERM"

stop_stack
echo "PASS: channels, settings, raw, schedule, list, conflicts, cancel, retry, passes, errors, watch"
