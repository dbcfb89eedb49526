#!/usr/bin/env bash
# The README's main job, headless: scripts/tev.sh run prints its phases and
# "ready", a recording scheduled with velctl shows as started and finished
# lines, the file is there, and SIGTERM to the script stops everything.
#   usage: run_main_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

start_stack
for phase in "starting the bus" "starting the peers" "starting the module"; do
  grep -q "^==> $phase" "$work/run.out" || fail "no phase \"$phase\""
done
# The web page is started, says where it is, and reaches the module.
grep -q "^Web page: http://127.0.0.1:$web_port/" "$work/run.out" || fail "no web page address"
for ((i = 0; i < 100; i++)); do
  web_status 2>/dev/null | grep -q '"ok":true' && break
  sleep 0.2
done
((i < 100)) || fail "the web page does not reach the module: $(web_status 2>&1 | tail -1)"

"$velctl" --host "$bus" settings --padding 0 >/dev/null || fail "settings --padding 0"
# Shorter than 20 s would count as failed.
"$velctl" --host "$bus" schedule --channel "Test Card" --in 2s --for 25s --name "Main Job" \
  >"$work/schedule.out" || fail "schedule: $(cat "$work/schedule.out")"
id=$(sed -n 's/^scheduled \(M[0-9]*\): "Main Job" on Test Card at .* for 25s$/\1/p' "$work/schedule.out")
[ -n "$id" ] || fail "schedule printed: $(cat "$work/schedule.out")"

wait_for "$work/run.out" "^[0-9:]\{8\} scheduled $id \"Main Job\" on Test Card" 30
wait_for "$work/run.out" "^[0-9:]\{8\} started $id \"Main Job\" on Test Card" 30
wait_for "$work/run.out" "^[0-9:]\{8\} finished $id \"Main Job\": complete, $work/run/documents/Recorded TV/Main Job_" 90
recording=$(ls "$work/run/documents/Recorded TV/"Main\ Job_*.asf) || fail "no recording file"
[ -s "$recording" ] || fail "empty recording $recording"

stop_stack
echo "PASS: ready, $id started and finished, stopped cleanly"
