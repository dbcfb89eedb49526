#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout and the
# systemd units, and starts the installed module with the installed peers
# on a loopback bus until its engine is ready.
#   usage: install_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

prefix="$work/usr"
cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || fail "install: $(cat "$work/install.out")"
for f in bin/velctl bin/tevpvr-host bin/tev-peers share/tev/samples/channels.json share/tev/samples/guide.xml \
  share/tev/samples/tuners.json share/tev/registry.ini share/doc/tevpvr/SERVICES.md share/doc/tevpvr/README.md \
  lib/systemd/system/tevpvr.service lib/systemd/system/tev-peers.service lib/systemd/system/tev-bus.service \
  lib/sysusers.d/tev.conf lib/tmpfiles.d/tev.conf; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
module=$(find "$prefix/lib" -name libTevPVR.so -path '*/tev/*')
[ -n "$module" ] || fail "libTevPVR.so is not installed under lib/.../tev/"

unit="$prefix/lib/systemd/system/tevpvr.service"
for line in "User=tev" "AmbientCapabilities=CAP_WAKE_ALARM" "Restart=on-failure" "Requires=tev-bus.service" \
  "StateDirectory=tev" "Environment=TEV_APPDATA_DIR=/var/lib/tev TEV_DOCUMENTS_DIR=/srv/tev"; do
  grep -q "^$line" "$unit" || fail "tevpvr.service has no $line"
done
grep -q '^After=.*tev-bus.service' "$unit" || fail "tevpvr.service is not ordered after the bus"
grep -q '^ExecStart=.*/tevpvr-host .*/tev/libTevPVR.so$' "$unit" || fail "tevpvr.service ExecStart"
grep -q '^u tev ' "$prefix/lib/sysusers.d/tev.conf" || fail "no tev user in sysusers.d"
grep -q '^d /srv/tev ' "$prefix/lib/tmpfiles.d/tev.conf" || fail "no /srv/tev in tmpfiles.d"
if command -v systemd-analyze >/dev/null 2>&1; then
  for u in tevpvr tev-peers tev-bus; do
    systemd-analyze verify --man=no "$prefix/lib/systemd/system/$u.service" 2>&1 |
      grep -v -e 'not executable' -e 'No such file' -e 'Failed to' -e '^$' -e 'lacks' >"$work/verify.out" || true
    [ -s "$work/verify.out" ] && echo "note: systemd-analyze on $u: $(cat "$work/verify.out")"
  done
fi

# Run the installed programs as the units would, inside the test folder.
port=$(free_port) || fail "no free port"
bus="127.0.0.1:$port"
nats-server -a 127.0.0.1 -p "$port" >"$work/nats.log" 2>&1 &
nats=$!
others+=("$nats")
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
"$prefix/bin/tev-peers" --host "$bus" --data "$work/peers" --channels "$prefix/share/tev/samples/channels.json" \
  --guide "$prefix/share/tev/samples/guide.xml" --tuners "$prefix/share/tev/samples/tuners.json" \
  >"$work/peers.log" 2>&1 &
peers=$!
others+=("$peers")
for _ in $(seq 50); do "$prefix/bin/velctl" --host "$bus" --timeout 1000 TevMediaV2 IsReady >/dev/null 2>&1 && break; sleep 0.2; done
mkdir -p "$work/etc"
sed "s/^velDirectory.host=.*/velDirectory.host=$bus/" "$prefix/share/tev/registry.ini" >"$work/etc/registry.ini"
"$prefix/bin/velctl" --host "$bus" watch --ready >"$work/watch.out" 2>&1 &
watch=$!
others+=("$watch")
TEV_APPDATA_DIR="$work/var/lib/tev" TEV_DOCUMENTS_DIR="$work/srv/tev" TEV_REGISTRY_FILE="$work/etc/registry.ini" \
  "$prefix/bin/tevpvr-host" "$module" 2>"$work/host.err" &
host=$!
others+=("$host")
wait_for "$work/watch.out" '^ready$' 60
"$prefix/bin/velctl" --host "$bus" settings >"$work/settings.out" || fail "settings: $(cat "$work/settings.out")"
grep -q "^video folder: $work/srv/tev/Recorded TV$" "$work/settings.out" || fail "settings: $(cat "$work/settings.out")"
[ -f "$work/var/lib/tev/TevNetworks/TevPVR/TevPVR.db" ] || fail "no database under the data folder"

kill -TERM "$host"
wait "$host" || fail "tevpvr-host exited $?: $(cat "$work/host.err")"
grep -q '^tevpvr-host: closed$' "$work/host.err" || fail "host: $(cat "$work/host.err")"
kill -TERM "$watch" "$peers"
wait "$watch" "$peers" || true
kill -TERM "$nats"
wait "$nats" || true
echo "PASS: installed into $prefix and started the module from there"
