#!/usr/bin/env bash
# The Debian package as an operator meets it: lintian finds no error, every
# unit is sandboxed (systemd-analyze security exposure at most 5.0), and,
# as root on a machine without tevpvr, it installs, installs again over an
# edited registry.ini without losing the edit, and purges cleanly.
#   usage: package_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.out" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.out")"
deb=$(find "$work/pkg" -maxdepth 1 -name 'tevpvr_*.deb')
[ -n "$deb" ] || fail "cpack made no tevpvr_*.deb: $(cat "$work/cpack.out")"

if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.out")"
  echo "lintian: $(grep -c '^[EW]:' "$work/lintian.out" || true) errors and warnings"
  sed 's/^/  /' "$work/lintian.out"
else
  echo "note: lintian is not installed; apt-get install lintian"
fi

mkdir -p "$work/root"
dpkg-deb -x "$deb" "$work/root"
for unit in tev-bus tev-peers tevpvr tev-web; do
  systemd-analyze security --offline=true "$work/root/usr/lib/systemd/system/$unit.service" \
    >"$work/$unit.security" 2>&1 || true
  exposure=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p' "$work/$unit.security")
  [ -n "$exposure" ] || fail "systemd-analyze security $unit: $(tail -5 "$work/$unit.security")"
  awk -v e="$exposure" 'BEGIN { exit !(e <= 5.0) }' || fail "$unit.service exposure $exposure > 5.0"
  echo "exposure $unit.service: $exposure"
done

if [ "$(id -u)" != 0 ]; then
  echo "SKIP: installing the package needs root"
  exit 77
fi
if dpkg -s tevpvr >/dev/null 2>&1 || getent passwd tev >/dev/null || [ -e /etc/tev ] || [ -e /var/lib/tev ]; then
  echo "SKIP: this machine has tevpvr, the user tev, /etc/tev or /var/lib/tev already"
  exit 77
fi
# Whatever happens, the machine is left as it was: the recordings folders
# (which tests of the module may use too) get their owners back.
had_srv=0
owners=()
if [ -e /srv/tev ]; then
  had_srv=1
  while IFS= read -r -d '' d; do owners+=("$(stat -c %u:%g "$d")" "$d"); done \
    < <(find /srv/tev -maxdepth 1 -type d -print0)
fi
leave_as_found() {
  # Programs of the user tev first (runuser passes SIGTERM on), or the
  # purge could not remove the user.
  local p
  for p in "${others[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${others[@]}"; do wait "$p" 2>/dev/null || true; done
  others=()
  dpkg --purge tevpvr >/dev/null 2>&1 || true
  if [ "$had_srv" = 1 ]; then
    for ((i = 0; i < ${#owners[@]}; i += 2)); do chown "${owners[i]}" "${owners[i + 1]}" || true; done
  else
    rm -rf /srv/tev
  fi
  cleanup
}
trap leave_as_found EXIT

# A recordings folder root made before the package: handed to tev.
mkdir -p "/srv/tev/Recorded TV"
dpkg -i "$deb" >"$work/install1.out" 2>&1 || fail "dpkg -i: $(cat "$work/install1.out")"
getent passwd tev >/dev/null || fail "no user tev"
[ "$(stat -c %U:%G "/srv/tev/Recorded TV")" = tev:tev ] || fail "Recorded TV is $(stat -c %U:%G "/srv/tev/Recorded TV")"
[ "$(stat -c %U:%a /var/lib/tev)" = tev:750 ] || fail "/var/lib/tev is $(stat -c %U:%a /var/lib/tev)"
[ "$(stat -c %G:%a /etc/tev/registry.ini)" = tev:640 ] || fail "registry.ini is $(stat -c %G:%a /etc/tev/registry.ini)"
[ "$(stat -c %a /etc/tev/bus/nats.conf)" = 600 ] || fail "nats.conf is readable by others"
grep -q '^velDirectory.user=pvr$' /etc/tev/registry.ini || fail "registry.ini has no bus user"
[ -f /etc/default/tev ] || fail "no /etc/default/tev"
# velctl as a user outside the group says what to do.
env -u TEV_REGISTRY_FILE runuser -u nobody -- velctl channels >"$work/nobody.out" 2>&1 && fail "nobody read the bus password"
grep -q 'cannot read /etc/tev/bus/velctl.ini: permission denied; run as a member of group tev' "$work/nobody.out" ||
  fail "velctl as nobody: $(cat "$work/nobody.out")"

# The units' command lines, run by hand as systemd would (without its
# sandbox: systemd is not always the init here), with the environment the
# units give and /etc/default/tev: the module reaches the peers over the
# packaged bus and says ready.
# UNIT's Environment= lines and /etc/default/tev, exported here.
unit_env() {
  local line
  while IFS= read -r line; do
    eval "export ${line#Environment=}"
  done < <(grep '^Environment=' "/usr/lib/systemd/system/$1.service")
  set -a
  . /etc/default/tev
  set +a
}
# UNIT's ExecStart= line, continuation lines joined.
unit_exec() {
  awk '/^ExecStart=/ { on = 1; sub(/^ExecStart=/, "") }
       on { more = sub(/\\$/, ""); printf "%s ", $0; if (!more) exit }' "/usr/lib/systemd/system/$1.service"
}
. /etc/default/tev
if (exec 3<>"/dev/tcp/127.0.0.1/$TEV_BUS_PORT") 2>/dev/null; then
  echo "note: 127.0.0.1:$TEV_BUS_PORT is taken here; the units' command lines are not run"
else
  CREDENTIALS_DIRECTORY=/etc/tev/bus
  unit_env tev-bus
  eval "set -- $(unit_exec tev-bus)"
  "$@" >"$work/bus.log" 2>&1 &
  others+=($!)
  for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$TEV_BUS_PORT") 2>/dev/null && break; sleep 0.1; done
  unit_env tev-peers
  eval "set -- $(unit_exec tev-peers)"
  runuser -u tev -- "$@" >"$work/peers.log" 2>&1 &
  others+=($!)
  env -u TEV_REGISTRY_FILE velctl watch --ready >"$work/watch.out" 2>&1 &
  others+=($!)
  unit_env tevpvr
  eval "set -- $(unit_exec tevpvr)"
  runuser -u tev -- env TEV_APPDATA_DIR="$TEV_APPDATA_DIR" TEV_DOCUMENTS_DIR="$TEV_DOCUMENTS_DIR" \
    TEV_REGISTRY_FILE="$TEV_REGISTRY_FILE" "$@" 2>"$work/host.err" &
  host=$!
  others+=("$host")
  unset TEV_REGISTRY_FILE
  for ((i = 0; i < 600; i++)); do grep -qx ready "$work/watch.out" && break; sleep 0.1; done
  ((i < 600)) || fail "the units' programs did not start the module: $(tail -n 5 "$work/watch.out" \
    "$work/host.err" "$work/peers.log" "$work/bus.log" /var/lib/tev/TevNetworks/Logs/TevPVR.log 2>&1)"
  velctl settings >"$work/settings.out" 2>&1 || fail "velctl settings: $(cat "$work/settings.out")"
  grep -q '^video folder: /srv/tev/Recorded TV$' "$work/settings.out" || fail "settings: $(cat "$work/settings.out")"
  grep -i violation "$work/bus.log" && fail "the packaged bus refused a packaged client"
  kill -TERM "$host"
  # runuser answers SIGTERM with 143 itself; the host says how it ended.
  wait "$host" || true
  grep -q '^tevpvr-host: closed$' "$work/host.err" || fail "tevpvr-host: $(cat "$work/host.err")"
  for p in "${others[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  others=()
fi

# The operator edits; the same version installed again keeps every edit and
# the bus passwords.
sed -i 's/^LogLevel=.*/LogLevel=3/' /etc/tev/registry.ini
echo "; the operator's own note" >>/etc/tev/registry.ini
sed -i 's/^TEV_WEB_LISTEN=.*/TEV_WEB_LISTEN=127.0.0.1:8181/' /etc/default/tev
cp /etc/tev/registry.ini "$work/registry.edited"
before=$(md5sum </etc/tev/bus/nats.conf)
dpkg -i "$deb" >"$work/install2.out" 2>&1 || fail "dpkg -i again: $(cat "$work/install2.out")"
cmp -s /etc/tev/registry.ini "$work/registry.edited" ||
  fail "the second install changed registry.ini: $(diff "$work/registry.edited" /etc/tev/registry.ini)"
grep -q '^TEV_WEB_LISTEN=127.0.0.1:8181$' /etc/default/tev || fail "the second install changed /etc/default/tev"
[ "$(md5sum </etc/tev/bus/nats.conf)" = "$before" ] || fail "the second install made new bus passwords"

dpkg --purge tevpvr >"$work/purge.out" 2>&1 || fail "dpkg --purge: $(cat "$work/purge.out")"
for gone in /etc/tev /var/lib/tev /etc/default/tev; do
  [ ! -e "$gone" ] || fail "$gone is left after purge"
done
getent passwd tev >/dev/null && fail "the user tev is left after purge"
getent group tev >/dev/null && fail "the group tev is left after purge"
[ -d "/srv/tev/Recorded TV" ] || fail "purge removed the recordings"
grep -q 'recordings stay in /srv/tev' "$work/purge.out" || fail "purge did not say where the recordings are: $(cat "$work/purge.out")"
echo "dpkg --purge tevpvr said:"; sed "s/^/  /" "$work/purge.out"
echo "PASS: lintian, sandboxing, install, install over edits, purge"
