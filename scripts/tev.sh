#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root from a clean clone):
#   scripts/tev.sh run    install what is missing, build, start the module on embedded defaults
#   scripts/tev.sh test   install what is missing, build with -Werror, run every test
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

PACKAGES=(g++ cmake make pkg-config nats-server libnats-dev libsqlite3-dev sqlite3
  libboost-filesystem-dev libboost-dev nlohmann-json3-dev libtag1-dev libinih-dev
  libcli11-dev libgtest-dev libgmock-dev googletest libbenchmark-dev librapidcheck-dev ffmpeg)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

build() {
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

run_main() {
  install_missing
  build "$top/build"
  local data="$top/run"
  mkdir -p "$data/appdata" "$data/documents" "$data/etc"
  export TEV_APPDATA_DIR="$data/appdata" TEV_DOCUMENTS_DIR="$data/documents"
  export TEV_REGISTRY_FILE="$data/etc/registry.ini"
  if [ ! -f "$TEV_REGISTRY_FILE" ]; then
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=127.0.0.1:4222\n\n[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=4\n' > "$TEV_REGISTRY_FILE"
  fi
  local pids=()
  trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
  local peer_settings=() velctl_settings=""
  if ! port_open 4222; then
    # Our own server: only the module, the peers and velctl may use it.
    "$top/scripts/nats-auth.sh" "$data/etc/bus" "$TEV_REGISTRY_FILE" 4222
    peer_settings=(--settings "$data/etc/bus/peers.ini")
    velctl_settings="--settings $data/etc/bus/velctl.ini "
    nats-server -c "$data/etc/bus/nats.conf" >"$data/nats-server.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do port_open 4222 && break; sleep 0.1; done
  fi
  if [ -x "$top/build/peers/tev-peers" ]; then
    "$top/build/peers/tev-peers" --host 127.0.0.1:4222 --data "$data/peers" \
      --channels "$top/peers/samples/channels.json" --guide "$top/peers/samples/guide.xml" \
      --tuners "$top/peers/samples/tuners.json" "${peer_settings[@]}" \
      >"$data/tev-peers.log" 2>&1 &
    pids+=($!)
  fi
  echo "Data in $data; log in $TEV_APPDATA_DIR/TevNetworks/Logs/TevPVR.log"
  echo "Poke it with: $top/build/tools/velctl ${velctl_settings}--host 127.0.0.1:4222 ZoVIZ GetPVRRecordPadding"
  "$top/build/host/tevpvr-host" "$top/build/libTevPVR.so"
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

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
# in a folder of their own: -O1 and no benchmarks keep the extra build short.
# Any report fails the test that caused it.
run_sanitized_tests() {
  build "$top/build-asan" -DTEV_WERROR=ON -DTEV_SANITIZE=ON -DTEV_BENCHMARKS=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$top/build-asan"
}

run_tests() {
  install_missing
  build "$top/build-ci" -DTEV_WERROR=ON
  run_ctest "$top/build-ci"
  # Again in a zone that is not UTC, for the programs that turn local times
  # into instants: a missing conversion passes in UTC.
  TZ=Asia/Kolkata run_ctest "$top/build-ci" -L '^(engine|db|bus|passes)$'
}

case "${1:-}" in
  run) run_main ;;
  test) run_tests ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac
