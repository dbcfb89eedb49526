#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root from a clean clone):
#   scripts/tev.sh run    install what is missing, build what runs, start the bus, the peers
#                         and the module on embedded defaults; one line per recording event;
#                         Ctrl-C (SIGINT) or SIGTERM stops everything it started
#   scripts/tev.sh test   install what is missing, check the lock annotations, build with -Werror
#                         and ASan+UBSan (build-ci/), run every test
#   scripts/tev.sh locks  only the lock-annotation check (clang -Wthread-safety)
#
# `run` reads these (all optional; tests use them to run headless):
#   TEV_PORT=4222           bus port on 127.0.0.1 (the next free one when a server we did not
#                           start listens there)
#   TEV_USE_RUNNING_BUS=1   use a server found on TEV_PORT instead (it may take no passwords)
#   TEV_RUN_DIR=./run       data, settings, recordings and logs
#   TEV_BUILD_DIR=./build   build folder
#   TEV_SKIP_INSTALL=1      do not look for missing packages
#   TEV_SKIP_BUILD=1        use the programs already in TEV_BUILD_DIR
#   TEV_WEB_PORT=8080       port of the web page (tev-web) on 127.0.0.1
#   TEV_CHANNELS=FILE|URL   channel line-up for tev-peers: channels.json, an M3U playlist or a
#                           tuner's lineup.json, a file or an http URL on 127.0.0.1
#                           (default peers/samples/channels.json)
#   TEV_GUIDE=FILE[:FILE]   XMLTV guide file(s), ':' between several (default peers/samples/guide.xml)
#   TEV_TUNERS=FILE         tuner list of tev-peers (default peers/samples/tuners.json)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

PACKAGES=(g++ cmake make pkg-config nats-server libnats-dev libsqlite3-dev sqlite3
  libboost-filesystem-dev libboost-dev nlohmann-json3-dev libtag1-dev
  libcli11-dev libgtest-dev libgmock-dev googletest libbenchmark-dev librapidcheck-dev ffmpeg
  libexpat1-dev libcpp-httplib-dev clang-14 chromium nodejs npm lintian help2man)

# What `run` builds: the module, its host, the peers and the client.
RUN_TARGETS=(TevPVR tevpvr-host tev-peers velctl tev-web)

# Each step with the time since the script started, so that a slow one shows.
phase() { printf '==> %s (at %dm%02ds)\n' "$*" $((SECONDS / 60)) $((SECONDS % 60)); }

install_missing() {
  [ "${TEV_SKIP_INSTALL:-}" = 1 ] && return 0
  local missing=()
  for p in "${PACKAGES[@]}"; do
    # Node.js may come from another repository (with npm inside it); Debian's
    # npm package conflicts with that nodejs, so a working command is enough.
    case $p in
      nodejs) command -v node >/dev/null && continue ;;
      npm) command -v npm >/dev/null && continue ;;
    esac
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    phase "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  else
    phase "packages: all installed"
  fi
}

configure() {
  local dir=$1; shift
  phase "configuring $dir"
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

jobs_count() { nproc; }

# build DIR [CMAKE OPTIONS...]: configures and builds everything in DIR.
build() {
  local dir=$1; shift
  configure "$dir" "$@"
  phase "building everything in $dir"
  cmake --build "$dir" -j"$(jobs_count)"
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Children of `run`, stopped in reverse order of start.
pids=()
names=()

# start NAME LOG COMMAND...: runs COMMAND in the background, in a session of
# its own so that Ctrl-C reaches only this script, which then stops the
# children in order (the module before the peers and the bus it needs to
# close its recordings). LOG "-" keeps the terminal.
start() {
  local name=$1 log=$2; shift 2
  if [ "$log" = - ]; then
    setsid "$@" &
  else
    setsid "$@" >>"$log" 2>&1 &
  fi
  pids+=($!)
  names+=("$name")
}

stop_all() {
  trap '' INT TERM
  local i pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill -0 "$pid" 2>/dev/null || continue
    phase "stopping ${names[i]}"
    kill -TERM "$pid" 2>/dev/null || true
    # The module closes its recordings first; give it a while, then insist.
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
  phase "stopped"
}

run_main() {
  local build=${TEV_BUILD_DIR:-$top/build} port=${TEV_PORT:-4222} data=${TEV_RUN_DIR:-$top/run}
  local bus="127.0.0.1:$port"
  install_missing
  if [ "${TEV_SKIP_BUILD:-}" != 1 ]; then
    configure "$build"
    phase "building ${RUN_TARGETS[*]}"
    cmake --build "$build" -j"$(jobs_count)" --target "${RUN_TARGETS[@]}"
  fi
  mkdir -p "$data/appdata" "$data/documents" "$data/etc"
  data=$(cd "$data" && pwd)
  export TEV_APPDATA_DIR="$data/appdata" TEV_DOCUMENTS_DIR="$data/documents"
  export TEV_REGISTRY_FILE="$data/etc/registry.ini"

  # A module that exits by itself ends the run too (see the wait below).
  trap 'stop_all; exit 130' INT
  trap 'stop_all; exit 143' TERM
  local peer_settings=() velctl_settings=() own_bus=1
  if port_open "$port"; then
    if [ "${TEV_USE_RUNNING_BUS:-}" = 1 ]; then
      own_bus=0
    else
      # A server we did not start may let anyone in: ours, with passwords,
      # goes on the next free port.
      local found=$bus
      while port_open "$port"; do port=$((port + 1)); done
      bus="127.0.0.1:$port"
      phase "bus: a server we did not start listens on $found; ours goes on $bus (TEV_USE_RUNNING_BUS=1 uses that one)"
    fi
  fi
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=%s\n\n[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=4\n' \
    "$bus" >"$TEV_REGISTRY_FILE"
  if [ "$own_bus" = 0 ]; then
    phase "bus: using the server already on $bus (TEV_USE_RUNNING_BUS=1)"
  else
    # Our own server: only the module, the peers and velctl may use it.
    "$top/scripts/nats-auth.sh" "$data/etc/bus" "$TEV_REGISTRY_FILE" "$port"
    peer_settings=(--settings "$data/etc/bus/peers.ini")
    velctl_settings=(--settings "$data/etc/bus/velctl.ini")
    phase "starting the bus (nats-server on $bus, log $data/nats-server.log)"
    start nats-server "$data/nats-server.log" nats-server -c "$data/etc/bus/nats.conf"
    for _ in $(seq 50); do port_open "$port" && break; sleep 0.1; done
  fi
  local velctl=("$build/tools/velctl" "${velctl_settings[@]}" --host "$bus")
  phase "starting the peers (tev-peers, log $data/tev-peers.log)"
  local guides=() guide
  IFS=: read -r -a guides <<<"${TEV_GUIDE:-$top/peers/samples/guide.xml}"
  local peer_sources=(--channels "${TEV_CHANNELS:-$top/peers/samples/channels.json}"
    --tuners "${TEV_TUNERS:-$top/peers/samples/tuners.json}")
  for guide in "${guides[@]}"; do
    [ -n "$guide" ] && peer_sources+=(--guide "$guide")
  done
  start tev-peers "$data/tev-peers.log" "$build/peers/tev-peers" --host "$bus" --data "$data/peers" \
    "${peer_sources[@]}" "${peer_settings[@]}"
  local peers=${pids[-1]}
  # The module asks the media library whether it is ready only every 10 s.
  for _ in $(seq 50); do
    "${velctl[@]}" --timeout 1000 TevMediaV2 IsReady >/dev/null 2>&1 && break
    kill -0 "$peers" 2>/dev/null || break
    sleep 0.2
  done
  # A line-up or guide it cannot read ends tev-peers at once: say why.
  if ! kill -0 "$peers" 2>/dev/null; then
    echo "tev-peers stopped:" >&2
    tail -n 5 "$data/tev-peers.log" >&2
    stop_all
    return 1
  fi
  # Events: a client that prints "ready" once the engine has started, then a
  # line per schedule, start, end and failure.
  start "the event watch" - "${velctl[@]}" --name "tev.sh-watch-$$" watch --ready --poll 500
  phase "starting the module (tevpvr-host; log $TEV_APPDATA_DIR/TevNetworks/Logs/TevPVR.log)"
  start "the module" - "$build/host/tevpvr-host" "$build/libTevPVR.so"
  local host=${pids[-1]}
  # Further programs that serve the running module (a web page) start here.
  local web="127.0.0.1:${TEV_WEB_PORT:-8080}"
  start tev-web "$data/tev-web.log" "$build/web/tev-web" --listen "$web" --host "$bus" "${velctl_settings[@]}"
  echo "Web page: http://$web/ (log $data/tev-web.log)"
  echo "Data in $data. Try: ${velctl[*]} schedule --channel \"Test Card\" --in 2m --for 5m --name \"My Show\""
  echo "Stop with Ctrl-C."
  local status=0
  wait "$host" || status=$?
  phase "the module exited ($status)"
  stop_all
  return "$status"
}

# Runs every test of the build in $1; the temporary folders that tests left
# behind (an aborted test cannot clean up) go afterwards either way.
run_ctest() {
  local dir=$1
  mkdir -p "$dir/test-tmp"
  local status=0
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 600 "${@:2}") || status=$?
  find "$dir/test-tmp" -mindepth 1 -delete 2>/dev/null || true
  return $status
}

# Clang's thread-safety analysis over the product's sources, so that the
# GUARDED_BY / REQUIRES / EXCLUDES annotations are checked, not just written.
check_locks() {
  local flags=(-std=c++17 -fsyntax-only -Wthread-safety -Werror=thread-safety -I"$top")
  read -r -a extra <<<"$(pkg-config --cflags libnats taglib sqlite3)"
  flags+=("${extra[@]}")
  find module bus db outbound engine dvr passes monitor platform support vel -name '*.cpp' -print0 |
    xargs -0 -P"$(nproc)" -n8 clang++-14 "${flags[@]}"
  echo "Thread-safety analysis: clean"
}

# The browser tests drive Debian's chromium with puppeteer-core from npm
# (which never downloads a browser of its own).
install_browser_driver() {
  [ "${TEV_SKIP_INSTALL:-}" = 1 ] && return 0
  NODE_PATH=$(npm root -g) node -e "require('puppeteer-core')" 2>/dev/null && return 0
  phase "installing puppeteer-core (npm)"
  npm install -g --no-fund --no-audit puppeteer-core@22
}

# Every test runs once, in one build with AddressSanitizer and
# UndefinedBehaviorSanitizer: -O0 (half the compile time of -O1; the
# sanitizers find the same faults). The test programs are unity builds and
# the benchmarks are only compiled, not linked (warnings are errors); their
# figures come from an optimised build.
# Any sanitizer report, a leak too, fails the test that caused it.
run_tests() {
  install_missing
  install_browser_driver
  check_locks
  python3 "$top/scripts/layers.py"
  local dir="$top/build-ci"
  build "$dir" -DTEV_WERROR=ON -DTEV_SANITIZE=ON -DTEV_UNITY=ON -DTEV_BENCH_COMPILE_ONLY=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O0 -g1"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  phase "running every test in $dir (sanitizers on)"
  run_ctest "$dir"
  # Again in a zone that is not UTC, for the programs that turn local times
  # into instants: a missing conversion passes in UTC.
  phase "running the time-zone tests again in Asia/Kolkata"
  TZ=Asia/Kolkata run_ctest "$dir" -L '^(engine|db|bus|passes)$'
  phase "all tests passed"
}

case "${1:-}" in
  run) run_main ;;
  test) run_tests ;;
  locks) install_missing; check_locks ;;
  *) echo "usage: $0 run|test|locks" >&2; exit 2 ;;
esac
