#!/usr/bin/env bash
# scripts/tev.sh run next to a nats-server it did not start, which takes
# anyone: the module goes on a bus of the script's own, with passwords,
# unless TEV_USE_RUNNING_BUS=1 says to use the one found.
#   usage: run_bus_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

port=$(free_port) || fail "no free port"
open_bus="127.0.0.1:$port"
nats-server -a 127.0.0.1 -p "$port" >"$work/open-nats.log" 2>&1 &
others+=($!)
for _ in $(seq 50); do (exec 3<>"/dev/tcp/$open_bus") 2>/dev/null && break; sleep 0.1; done

# On the open server nobody offers the module's services; on the script's
# own bus (its velctl settings name it) the module answers.
start_stack
grep -q "^==> bus: a server we did not start listens on $open_bus; ours goes on 127.0.0.1:" "$work/run.out" ||
  fail "the script did not say it left the open server alone"
"$velctl" --host "$open_bus" --timeout 2000 ZoVIZ GetPVRRecordPadding >"$work/open.out" 2>&1 &&
  fail "the module is on the open server: $(cat "$work/open.out")"
grep -q 'no satellite offers GetPVRRecordPadding' "$work/open.out" || fail "open server: $(cat "$work/open.out")"
own=$(sed -n 's/^velDirectory.host=//p' "$work/run/etc/bus/velctl.ini")
[ -n "$own" ] && [ "$own" != "$open_bus" ] || fail "velctl.ini names the bus $own"
"$velctl" --timeout 5000 ZoVIZ GetPVRRecordPadding >"$work/own.out" 2>&1 ||
  fail "the module does not answer on the script's bus $own: $(cat "$work/own.out")"
stop_stack
kill -0 "${others[0]}" 2>/dev/null || fail "stopping the script stopped a server it did not start"

# Told to: the module is on the open server.
rm -rf "$work/run"
unset TEV_REGISTRY_FILE
TEV_USE_RUNNING_BUS=1 start_stack
grep -q "^==> bus: using the server already on $open_bus" "$work/run.out" || fail "TEV_USE_RUNNING_BUS=1 was not followed"
"$velctl" --host "$open_bus" --timeout 5000 ZoVIZ GetPVRRecordPadding >"$work/told.out" 2>&1 ||
  fail "TEV_USE_RUNNING_BUS=1: the module is not on $open_bus: $(cat "$work/told.out")"
stop_stack
echo "PASS: an open server is used only when told"
