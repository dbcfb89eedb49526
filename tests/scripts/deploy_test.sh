#!/usr/bin/env bash
# docs/DEPLOY.md's several machines on loopback: three routed nats-server
# nodes with the package's users and passwords, the module on node A, the
# peers on B, the web page and velctl on C; node A is killed during a
# recording, the module moves to another node and the recording completes.
#   usage: deploy_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

mkdir -p "$work/etc" "$work/appdata" "$work/documents"
declare -a client route pid
for i in 0 1 2; do
  client[$i]=$(free_port) || fail "no free port"
  route[$i]=$(free_port) || fail "no free port"
done
routes="nats://127.0.0.1:${route[0]},nats://127.0.0.1:${route[1]},nats://127.0.0.1:${route[2]}"
node() { echo "127.0.0.1:${client[$1]}"; }
A=$(node 0) B=$(node 1) C=$(node 2)

# One set of users and passwords for every node, as the page says.
"$src/scripts/nats-auth.sh" "$work/etc/bus" "$work/etc/registry.ini" "${client[0]}" >/dev/null ||
  fail "nats-auth.sh"
start_node() {
  nats-server -c "$work/etc/bus/nats.conf" -a 127.0.0.1 -p "${client[$1]}" --cluster_name tev \
    -cluster "nats://127.0.0.1:${route[$1]}" -routes "$routes" >>"$work/node$1.log" 2>&1 &
  pid[$1]=$!
  others+=("${pid[$1]}")
}
for i in 0 1 2; do start_node $i; done
for i in 0 1 2; do
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/${client[$i]}") 2>/dev/null && break; sleep 0.1; done
done

# Every client lists its own node first, then the others.
sed -i "s/^velDirectory.host=.*/velDirectory.host=$A,$B,$C/" "$work/etc/registry.ini"
printf '[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=3\n' >>"$work/etc/registry.ini"
sed -i "s/^velDirectory.host=.*/velDirectory.host=$C,$B/" "$work/etc/bus/velctl.ini"
"$build/peers/tev-peers" --host "$B,$C" --data "$work/peers" --settings "$work/etc/bus/peers.ini" \
  --channels "$src/peers/samples/channels.json" --guide "$src/peers/samples/guide.xml" \
  --tuners "$src/peers/samples/tuners.json" >"$work/peers.log" 2>&1 &
others+=($!)
vctl() { "$velctl" --settings "$work/etc/bus/velctl.ini" "$@"; }
for _ in $(seq 100); do vctl --timeout 1000 TevMediaV2 IsReady >/dev/null 2>&1 && break; sleep 0.2; done
vctl --timeout 1000 TevMediaV2 IsReady >/dev/null 2>&1 || fail "the peers on node B are not reached from C"

"$velctl" --settings "$work/etc/bus/velctl.ini" watch --ready >"$work/watch.out" 2>&1 &
others+=($!)
TEV_APPDATA_DIR="$work/appdata" TEV_DOCUMENTS_DIR="$work/documents" TEV_REGISTRY_FILE="$work/etc/registry.ini" \
  "$build/host/tevpvr-host" "$build/libTevPVR.so" 2>"$work/host.err" &
host=$!
others+=("$host")
wait_for "$work/watch.out" '^ready$' 60
log="$work/appdata/TevNetworks/Logs/TevPVR.log"
wait_for "$log" "joined the bus server nats://$A as ZoVIZ" 10
web_port=$(free_port) || fail "no free port"
"$build/web/tev-web" --listen "127.0.0.1:$web_port" --host "$C,$A" --settings "$work/etc/bus/velctl.ini" \
  >"$work/web.log" 2>&1 &
others+=($!)
for ((i = 0; i < 100; i++)); do
  web_status 2>/dev/null | grep -q '"ok":true' && break
  sleep 0.2
done
((i < 100)) || fail "the web page on node C does not reach the module on A: $(web_status 2>&1 | tail -1)"

vctl settings --padding 0 >/dev/null || fail "settings --padding 0"
vctl schedule --channel "Test Card" --in 2s --for 25s --name "Cluster Job" >"$work/schedule.out" ||
  fail "schedule: $(cat "$work/schedule.out")"
id=$(sed -n 's/^scheduled \(M[0-9]*\): .*/\1/p' "$work/schedule.out")
[ -n "$id" ] || fail "schedule printed: $(cat "$work/schedule.out")"
wait_for "$work/watch.out" "started $id \"Cluster Job\"" 30

# Node A goes while the file is being written.
kill -KILL "${pid[0]}"
wait "${pid[0]}" 2>/dev/null || true
wait_for "$log" "reconnected to the bus server nats://127.0.0.1:" 30
wait_for "$work/watch.out" "finished $id \"Cluster Job\": complete" 90
recording=$(ls "$work/documents/Recorded TV/"Cluster\ Job_*.asf) || fail "no recording file"
[ -s "$recording" ] || fail "empty recording $recording"
vctl list >"$work/list.out" || fail "list: $(cat "$work/list.out")"
grep -q "$id .*complete" "$work/list.out" || fail "list: $(cat "$work/list.out")"
for i in 1 2; do
  grep -i violation "$work/node$i.log" && fail "node $i refused a client"
done

kill -TERM "$host"
wait "$host" || fail "tevpvr-host exited $?: $(cat "$work/host.err")"
echo "PASS: module on A, peers on B, web and velctl on C; A killed mid-recording; $id complete"
