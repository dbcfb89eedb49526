# Shared by the whole-program tests (sourced): a temporary folder, a free
# loopback port, `scripts/tev.sh run` started headless from an existing
# build, waiting for a line of output, and stopping the run with SIGTERM
# while checking that nothing it started is left.
#   usage: . stack.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tev-script-test-XXXXXX")
velctl="$build/tools/velctl"
script=""
others=()  # further background processes of a test, killed on exit
port=""
bus=""

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$work/run.out" ]; then sed 's/^/  tev.sh: /' "$work/run.out" >&2; fi
  # The web page logs apart from the script; its end says why it is away.
  if [ -n "${run_dir:-}" ] && [ -f "$run_dir/tev-web.log" ]; then
    tail -n 20 "$run_dir/tev-web.log" | sed 's/^/  tev-web: /' >&2
  fi
  exit 1
}

free_port() {
  local p
  for _ in $(seq 50); do
    # Below the kernel's ephemeral range (32768 up), where the other tests'
    # buses and every outgoing connection take their ports meanwhile.
    p=$((20000 + RANDOM % 12000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

# wait_for FILE PATTERN SECONDS: until a line of FILE matches PATTERN.
wait_for() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no line \"$2\" in $(basename "$1") within $3 s"
}

# The web page's /api/status answer, from tev-web on 127.0.0.1:$web_port.
web_status() {
  exec 3<>"/dev/tcp/127.0.0.1/$web_port" || return 1
  printf 'GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$web_port" >&3
  cat <&3
  exec 3<&-
}

# Every process below PID, children first.
descendants() {
  local child
  for child in $(pgrep -P "$1" || true); do
    descendants "$child"
    echo "$child"
  done
}

# start_stack [COMMAND_LINE]: `scripts/tev.sh run`, or a command line that
# runs it (as a reader types it, from the current folder; its own TEV_
# variables win, and run_dir names the TEV_RUN_DIR it picks).
run_dir=""
# The bus port is $port when a test set it (a server of its own there),
# else a free one.
start_stack() {
  [ -n "$port" ] || port=$(free_port) || fail "no free port"
  bus="127.0.0.1:$port"
  web_port=$(free_port) || fail "no free port"
  local line=${1:-\"\$src/scripts/tev.sh\" run}
  run_dir=${run_dir:-$work/run}
  # Emptied here, not by the background job's redirection, which may come
  # after wait_for has read the last run's "ready".
  : >"$work/run.out"
  # One simple command: bash runs it in its own place, so $script is tev.sh.
  src="$src" TEV_SKIP_INSTALL=1 TEV_SKIP_BUILD=1 TEV_BUILD_DIR="$build" TEV_RUN_DIR="$run_dir" TEV_PORT="$port" \
    TEV_WEB_PORT="$web_port" bash -c "$line" >"$work/run.out" 2>&1 &
  script=$!
  wait_for "$work/run.out" '^ready$' 120
  # The script's bus takes passwords; velctl finds its own here.
  export TEV_REGISTRY_FILE="$run_dir/etc/bus/velctl.ini"
}

# SIGTERM to the script: it must end within 20 s, leaving none of its
# processes behind.
stop_stack() {
  local started i p
  started=$(descendants "$script")
  [ -n "$started" ] || fail "the script started nothing"
  kill -TERM "$script"
  for ((i = 0; i < 200; i++)); do
    kill -0 "$script" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$script" 2>/dev/null && fail "the script still runs 20 s after SIGTERM"
  wait "$script" || true
  script=""
  # A zombie has ended; only whoever inherited it has not reaped it yet.
  for p in $started; do
    if kill -0 "$p" 2>/dev/null && [ "$(ps -o stat= -p "$p" 2>/dev/null | cut -c1)" != Z ]; then
      fail "process $p ($(ps -o args= -p "$p" || true)) left running"
    fi
  done
  grep -q '^==> stopped' "$work/run.out" || fail "the script did not say it stopped"
}

cleanup() {
  local p
  for p in "${others[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  if [ -n "$script" ] && kill -0 "$script" 2>/dev/null; then
    for p in $(descendants "$script") "$script"; do kill -KILL "$p" 2>/dev/null || true; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
