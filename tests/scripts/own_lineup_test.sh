#!/usr/bin/env bash
# The README's "Your own channels and guide" as a reader follows it: its
# commands make the files, and each of its `scripts/tev.sh run` lines (an
# M3U playlist, a tuner line-up, a channels.json) starts a run in which
# velctl lists the line-up's names and the web page's guide search finds the
# grabber-style listings under those names, not the guide's ids, and its
# line-up carries the channel numbers.
#   usage: own_lineup_test.sh BUILD_DIR
. "$(dirname "$0")/stack.sh" "$1"

export HOME="$work/home"
mkdir -p "$HOME"
cd "$src"
code=$(awk '/^## Your own channels and guide$/ { on = 1; next } /^## / { on = 0 } on' README.md | sed -n 's/^    //p')
runs=$(grep 'scripts/tev.sh run$' <<<"$code" || true)
[ "$(wc -l <<<"$runs")" = 3 ] || fail "expected three run lines in the README section, got: $runs"
bash -euc "$(grep -v 'scripts/tev.sh run$' <<<"$code")" || fail "the README's commands failed"

# The web page's search: the channel names it shows for a title.
found_on() {
  curl -sf "http://127.0.0.1:$web_port/api/guide/search?title=$(sed 's/ /%20/g' <<<"$1")" |
    python3 -c 'import json, sys; print("|".join(sorted({c["name"] for c in json.load(sys.stdin)["channels"]})))'
}

mapfile -t lines <<<"$runs"
for line in "${lines[@]}"; do
  case $line in
    *channels.m3u*) first="KABC Los Angeles" second="Fox 11" numbers="7.1|11.1" ;;
    *lineup.json*) first="KABC" second="KTTV" numbers="7.1|11.1" ;;
    *channels.json*) first="ABC 7" second="Fox 11" numbers="|" ;;
    *) fail "a run line with no line-up of the example: $line" ;;
  esac
  run_dir=$(bash -c "${line%scripts/tev.sh run} printenv TEV_RUN_DIR")
  case $run_dir in "$HOME"/*) ;; *) fail "the run folder $run_dir is not below the example's folder" ;; esac
  start_stack "$line"
  # tev-web starts after the module: until it reaches the module too.
  for ((i = 0; i < 300; i++)); do
    curl -sf "http://127.0.0.1:$web_port/api/status" 2>/dev/null | grep -q '"ok":true' && break
    sleep 0.2
  done
  ((i < 300)) || fail "$line: the web page does not reach the module: $(curl -s "http://127.0.0.1:$web_port/api/status";
    tail -n 5 "$run_dir/tev-web.log")"
  "$velctl" --host "$bus" channels >"$work/channels.out" || fail "velctl channels: $(cat "$work/channels.out")"
  for name in "$first" "$second"; do
    grep -qF "$name" "$work/channels.out" || fail "$line: no channel \"$name\" in: $(cat "$work/channels.out")"
  done
  grep -q "Test Card" "$work/channels.out" && fail "$line: the sample channels are in the library too"
  # The page's line-up: the numbers the line-up gave, in that order.
  got=$(curl -sf "http://127.0.0.1:$web_port/api/channels" |
    python3 -c 'import json, sys; print("|".join(c["number"] for c in json.load(sys.stdin)["channels"]))') ||
    fail "$line: no line-up from the web page"
  [ "$got" = "$numbers" ] || fail "$line: channel numbers \"$got\", expected \"$numbers\""
  got=$(found_on "Evening Report") || fail "$line: the guide search failed"
  [ "$got" = "$first" ] || fail "$line: \"Evening Report\" found on \"$got\", expected \"$first\""
  got=$(found_on "Harbour Lights") || fail "$line: the guide search failed"
  [ "$got" = "$second" ] || fail "$line: \"Harbour Lights\" found on \"$got\", expected \"$second\""
  stop_stack
  run_dir=""
  echo "ok: $line"
done
# A line-up that is not one ends the run at once, naming the file and line.
printf 'KABC,http://192.168.1.50:5004/auto/v7.1\n' >"$HOME/tv/not-a-playlist.m3u"
status=0
TEV_SKIP_INSTALL=1 TEV_SKIP_BUILD=1 TEV_BUILD_DIR="$build" TEV_RUN_DIR="$HOME/tv/run-bad" TEV_PORT="$(free_port)" \
  TEV_WEB_PORT="$(free_port)" TEV_CHANNELS="$HOME/tv/not-a-playlist.m3u" timeout 60 scripts/tev.sh run \
  >"$work/bad.out" 2>&1 </dev/null || status=$?
[ "$status" = 1 ] || fail "a bad line-up: exit $status, expected 1: $(cat "$work/bad.out")"
grep -q "not-a-playlist.m3u:1" "$work/bad.out" || fail "a bad line-up is not named: $(cat "$work/bad.out")"
grep -q "starting the module" "$work/bad.out" && fail "the module started without its peers"
echo "PASS: the README's three line-ups and its guide; a bad line-up is named"
