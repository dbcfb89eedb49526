#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout and the
# systemd units, and starts the installed module with the installed peers
# on a loopback bus until its engine is ready.
#   usage: install_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

prefix="$work/usr"
cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || fail "install: $(cat "$work/install.out")"
for f in bin/velctl bin/tevpvr-host bin/tev-peers bin/tev-web share/tev/samples/channels.json share/tev/samples/guide.xml \
  share/tev/samples/tuners.json share/tev/registry.ini share/doc/tevpvr/SERVICES.md share/doc/tevpvr/README.md \
  lib/systemd/system/tevpvr.service lib/systemd/system/tev-peers.service lib/systemd/system/tev-bus.service lib/systemd/system/tev-web.service \
  lib/sysusers.d/tev.conf lib/tmpfiles.d/tev.conf etc/default/tev share/man/man1/velctl.1.gz \
  share/doc/tevpvr/copyright share/doc/tevpvr/changelog.gz share/doc/tevpvr/DEPLOY.md; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
module=$(find "$prefix/lib" -name libTevPVR.so -path '*/tev/*')
[ -n "$module" ] || fail "libTevPVR.so is not installed under lib/.../tev/"

unit="$prefix/lib/systemd/system/tevpvr.service"
for line in "User=tev" "AmbientCapabilities=CAP_WAKE_ALARM" "Restart=on-failure" "Wants=tev-bus.service" \
  "StateDirectory=tev" "Environment=TEV_APPDATA_DIR=/var/lib/tev TEV_DOCUMENTS_DIR=/srv/tev" \
  "EnvironmentFile=-$prefix/etc/default/tev"; do
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

# The Debian package: its files, what it declares, its scripts. Made into
# the test folder from the same build, whatever prefix that build has: the
# package is for /usr.
if true; then
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.out" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.out")"
  deb=$(find "$work/pkg" -maxdepth 1 -name 'tevpvr_*.deb')
  [ -n "$deb" ] || fail "cpack made no tevpvr_*.deb: $(cat "$work/cpack.out")"
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/deb.files"
  for f in /usr/bin/velctl /usr/bin/tevpvr-host /usr/bin/tev-peers /usr/libexec/tev/nats-auth.sh \
    /usr/share/tev/registry.ini /usr/share/tev/samples/channels.json /usr/share/tev/samples/guide.xml \
    /usr/share/tev/samples/tuners.json /usr/share/doc/tevpvr/SERVICES.md /usr/lib/sysusers.d/tev.conf \
    /usr/lib/tmpfiles.d/tev.conf /usr/lib/systemd/system/tevpvr.service /usr/lib/systemd/system/tev-peers.service \
    /usr/lib/systemd/system/tev-bus.service; do
    grep -qx -- "$f" "$work/deb.files" || fail "not in the package: $f"
  done
  grep -q '^/usr/lib/.*/tev/libTevPVR.so$' "$work/deb.files" || fail "libTevPVR.so is not in the package"
  grep -q -e '^/usr/include' -e 'test_' -e '\.a$' "$work/deb.files" && fail "the package holds build or test files"
  depends=$(dpkg-deb -f "$deb" Depends)
  for d in nats-server ffmpeg libnats libsqlite3 libtag; do
    [[ "$depends" == *"$d"* ]] || fail "the package does not depend on $d: $depends"
  done
  dpkg-deb -e "$deb" "$work/control"
  for s in postinst prerm postrm; do [ -x "$work/control/$s" ] || fail "no $s in the package"; done
  grep -q 'nats-auth.sh /etc/tev/bus /etc/tev/registry.ini' "$work/control/postinst" ||
    fail "postinst makes no bus passwords"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/tev-bus.service >"$work/deb-bus.service"
  grep -q '^LoadCredential=nats.conf:/etc/tev/bus/nats.conf$' "$work/deb-bus.service" ||
    fail "tev-bus.service does not use the generated configuration"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/tev-peers.service >"$work/deb-peers.service"
  grep -q -- '--settings /etc/tev/bus/peers.ini' "$work/deb-peers.service" || fail "tev-peers.service has no bus credentials"
  grep -qx 'EnvironmentFile=-/etc/default/tev' "$work/deb-peers.service" || fail "tev-peers.service does not read /etc/default/tev"
  grep -q "^ExecStart=/usr/bin/tev-peers " "$work/deb-peers.service" || fail "tev-peers.service names another prefix"
  grep -qx '/etc/default/tev' "$work/control/conffiles" || fail "/etc/default/tev is not a conffile"
fi

# Run the installed programs as the units would, inside the test folder,
# on a bus with the passwords the package makes (the installed nats-auth.sh).
port=$(free_port) || fail "no free port"
bus="127.0.0.1:$port"
mkdir -p "$work/etc"
sed "s/^velDirectory.host=.*/velDirectory.host=$bus/" "$prefix/share/tev/registry.ini" >"$work/etc/registry.ini"
"$prefix/libexec/tev/nats-auth.sh" "$work/etc/bus" "$work/etc/registry.ini" "$port" >"$work/auth.out" 2>&1 ||
  fail "nats-auth.sh: $(cat "$work/auth.out")"
grep -q '^velDirectory.user=pvr$' "$work/etc/registry.ini" || fail "no module credentials in registry.ini"
nats-server -c "$work/etc/bus/nats.conf" >"$work/nats.log" 2>&1 &
nats=$!
others+=("$nats")
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
"$prefix/bin/tev-peers" --host "$bus" --data "$work/peers" --settings "$work/etc/bus/peers.ini" \
  --channels "$prefix/share/tev/samples/channels.json" --guide "$prefix/share/tev/samples/guide.xml" \
  --tuners "$prefix/share/tev/samples/tuners.json" >"$work/peers.log" 2>&1 &
peers=$!
others+=("$peers")
# velctl finds the bus and its password in its settings file.
vctl() { "$prefix/bin/velctl" --settings "$work/etc/bus/velctl.ini" "$@"; }
for _ in $(seq 50); do vctl --timeout 1000 TevMediaV2 IsReady >/dev/null 2>&1 && break; sleep 0.2; done
status=0
"$prefix/bin/velctl" --settings /dev/null --host "$bus" --timeout 1000 TevMediaV2 IsReady >/dev/null 2>&1 ||
  status=$?
[ "$status" -eq 3 ] || fail "a client without a password was not refused (exit $status)"
# The program itself, not the function: $! must be velctl's own pid for the
# kill below to reach it.
"$prefix/bin/velctl" --settings "$work/etc/bus/velctl.ini" watch --ready >"$work/watch.out" 2>&1 &
watch=$!
others+=("$watch")
TEV_APPDATA_DIR="$work/var/lib/tev" TEV_DOCUMENTS_DIR="$work/srv/tev" TEV_REGISTRY_FILE="$work/etc/registry.ini" \
  "$prefix/bin/tevpvr-host" "$module" 2>"$work/host.err" &
host=$!
others+=("$host")
wait_for "$work/watch.out" '^ready$' 60
# The web page joins as velctl does; neither may be refused anything it
# asks the bus for.
web_port=$(free_port) || fail "no free port"
"$prefix/bin/tev-web" --listen "127.0.0.1:$web_port" --host "$bus" --settings "$work/etc/bus/velctl.ini" \
  >"$work/web.log" 2>&1 &
web=$!
others+=("$web")
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$web_port") 2>/dev/null && break
  sleep 0.1
done
vctl --timeout 5000 ZoVIZ GetPVRRecordPadding >/dev/null || fail "the module does not answer velctl"
grep -i 'violation' "$work/nats.log" && fail "the bus refused a packaged client: $(grep -i violation "$work/nats.log" | head -3)"
vctl settings >"$work/settings.out" || fail "settings: $(cat "$work/settings.out")"
grep -q "^video folder: $work/srv/tev/Recorded TV$" "$work/settings.out" || fail "settings: $(cat "$work/settings.out")"
[ -f "$work/var/lib/tev/TevNetworks/TevPVR/TevPVR.db" ] || fail "no database under the data folder"

kill -TERM "$host"
wait "$host" || fail "tevpvr-host exited $?: $(cat "$work/host.err")"
grep -q '^tevpvr-host: closed$' "$work/host.err" || fail "host: $(cat "$work/host.err")"
kill -TERM "$watch" "$peers" "$web"
wait "$watch" "$peers" "$web" || true
kill -TERM "$nats"
wait "$nats" || true
echo "PASS: installed into $prefix and started the module from there"
