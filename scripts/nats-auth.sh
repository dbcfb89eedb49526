#!/usr/bin/env bash
# Generates bus credentials and a nats-server configuration that gives each
# client only what it needs:
#   pvr     the module "ZoVIZ": offers its services, calls every satellite
#   peers   the stand-in satellites: offer their services, call ZoVIZ, never
#           answer in ZoVIZ's name
#   velctl  the command-line client: calls, offers nothing, hears the
#           broadcasts ("velctl watch")
#
#   scripts/nats-auth.sh ETC_DIR MODULE_SETTINGS [PORT]
#
# Writes ETC_DIR/nats.conf (listen 127.0.0.1:PORT, default 4222),
# ETC_DIR/peers.ini and ETC_DIR/velctl.ini (settings files for
# `tev-peers --settings` and `velctl --settings`), and puts the module's
# velDirectory.user/password into MODULE_SETTINGS beside velDirectory.host.
# New passwords at every run; every file it writes is readable by its owner
# only. The server logs every refused publish or subscription.
set -euo pipefail

etc=${1:?usage: nats-auth.sh ETC_DIR MODULE_SETTINGS [PORT]}
settings=${2:?usage: nats-auth.sh ETC_DIR MODULE_SETTINGS [PORT]}
port=${3:-4222}
section='[HKEY_LOCAL_MACHINE\SOFTWARE\TEV Networks\Tev\Config]'

secret() { head -c 24 /dev/urandom | base64 | tr -d '/+=\n'; }

umask 077
mkdir -p "$etc"
pvr=$(secret)
peers=$(secret)
velctl=$(secret)

cat >"$etc/nats.conf" <<CONF
listen: 127.0.0.1:$port
authorization {
  users = [
    {user: pvr, password: "$pvr", permissions: {
      publish: ["vel.>", "_INBOX.>"]
      subscribe: ["vel.sat.ZoVIZ.>", "vel.any.>", "vel.all.>", "vel.ping.ZoVIZ", "_INBOX.>"]
    }}
    {user: peers, password: "$peers", permissions: {
      publish: ["vel.>", "_INBOX.>"]
      subscribe: {allow: ["vel.>", "_INBOX.>"], deny: ["vel.sat.ZoVIZ.>", "vel.ping.ZoVIZ"]}
    }}
    {user: velctl, password: "$velctl", permissions: {
      publish: ["vel.sat.>", "vel.any.>", "vel.all.>", "vel.ping.>", "_INBOX.>"]
      subscribe: {allow: ["vel.ping.>", "vel.all.>", "_INBOX.>"], deny: ["vel.ping.ZoVIZ"]}
    }}
  ]
}
CONF

client_settings() {  # FILE USER PASSWORD
  printf '%s\nvelDirectory.host=127.0.0.1:%s\nvelDirectory.user=%s\nvelDirectory.password=%s\n' \
    "$section" "$port" "$2" "$3" >"$1"
}
client_settings "$etc/peers.ini" peers "$peers"
client_settings "$etc/velctl.ini" velctl "$velctl"

# The module's own file keeps everything else it holds.
if [ ! -f "$settings" ]; then
  printf '%s\nvelDirectory.host=127.0.0.1:%s\n' "$section" "$port" >"$settings"
fi
tmp=$(mktemp "$settings.XXXXXX")
awk -v section="$section" -v user=pvr -v password="$pvr" '
  function add() { print "velDirectory.user=" user; print "velDirectory.password=" password; added = 1 }
  tolower($0) ~ /^[ \t]*veldirectory\.(user|password|token)[ \t]*=/ { next }
  /^\[/ { if (inside && !added) add(); inside = (tolower($0) == tolower(section)) }
  inside && !added && tolower($0) ~ /^[ \t]*veldirectory\.host[ \t]*=/ { print; add(); next }
  { print }
  END { if (!added) { if (!inside) print section; add() } }
' "$settings" >"$tmp"
chmod 600 "$tmp"
mv "$tmp" "$settings"
