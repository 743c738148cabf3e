#!/bin/sh
# The Windows programs against the Linux ones, on loopback: the Windows terminal tool (under Wine)
# checks and upgrades the Linux router emulator, and the Linux terminal tool the Windows emulator
# (under Wine). Both pairs must succeed with the same JSON (the paths and the step times aside).
#   interop.sh <Linux build folder> <Windows build folder>
# Run it inside a private network namespace with loopback up (make test-windows does).
set -eu
linux=$1
windows=$2
wine=$(command -v wine64 || command -v wine)
work=$(mktemp -d)
sim_pid=""
own_prefix=0
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  # Wine's server writes its prefix on the way out (a prefix given by the caller is the caller's)
  if [ "$own_prefix" = 1 ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
# the caller's Wine prefix when it has one (run-tests.sh), else a throw-away one
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$work/wine"
  own_prefix=1
fi
export WINEDEBUG=-all
# The console dialogue is paced by fixed reads, and Wine adds its own delays: a modest scale.
export QOR_TEST_CLOCK_SCALE=${QOR_TEST_CLOCK_SCALE:-5}

# two router images newer than what the emulator reports
mkdir "$work/images"
"$linux/tools/qor-mkimage" router --module 0 --version 1.2.3.1 -o "$work/images/boot.bin" >/dev/null
"$linux/tools/qor-mkimage" router --module 1 --version 1.2.7.1 -o "$work/images/app.bin" >/dev/null
# Wine starts its prefix once, before anything is timed
timeout 300 "$wine" "$windows/tools/qor-mkimage.exe" --version >/dev/null

# starts an emulator ($1: its command) on free ports and waits for its banner
start_sim() {
  "$@" --udp-port 0 --link-port 0 --telnet-port 0 --cfe-version 1.2.0.1 --app-version 1.2.0.5 \
    --time-scale "$QOR_TEST_CLOCK_SCALE" --quiet >"$work/sim.out" 2>&1 &
  sim_pid=$!
  n=0
  until grep -q "qor-router-sim: router" "$work/sim.out" 2>/dev/null; do
    n=$((n + 1))
    if [ "$n" -gt 600 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
      echo "the emulator did not start:"; cat "$work/sim.out"; exit 1
    fi
    sleep 0.1
  done
  udp=$(sed -n 's/.*UDP \([0-9]*\), link.*/\1/p' "$work/sim.out" | head -n 1)
  link=$(sed -n 's/.*link \([0-9]*\), telnet.*/\1/p' "$work/sim.out" | head -n 1)
  telnet=$(sed -n 's/.*telnet \([0-9]*\), console.*/\1/p' "$work/sim.out" | head -n 1)
}

stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# runs a tool ($1: label, rest: its command) for check and then upgrade --yes; keeps the JSON
run_pair() {
  label=$1
  shift
  for command in check "upgrade --yes"; do
    name="$label-$(echo "$command" | cut -d' ' -f1)"
    # shellcheck disable=SC2086
    if ! timeout 300 "$@" $command --json --images "$images" --discovery-address 127.0.0.1 --udp-port "$udp" \
      --link-port "$link" --telnet-port "$telnet" --log "$log" >"$work/$name.json" 2>"$work/$name.err"; then
      echo "$label $command failed:"; cat "$work/$name.err" "$work/$name.json"; exit 1
    fi
    # the image folder, each image's file and the log are each system's own paths (the images'
    # digests must match); step times (in the texts and as elapsedSeconds) vary from run to run
    sed -e 's/"imageFolder":"[^"]*"/"imageFolder":"-"/' -e 's/"log":"[^"]*"/"log":"-"/' \
      -e 's/"path":"[^"]*"/"path":"-"/g' \
      -e 's/([0-9][0-9]:[0-9][0-9])/(-)/g' -e 's/"elapsedSeconds":[0-9.]*/"elapsedSeconds":-/g' "$work/$name.json" | tr -d '\r' >"$work/$name.cmp"
  done
}

start=$(date +%s)
start_sim "$linux/sim/qor-router-sim"
images="$(winepath -w "$work/images" 2>/dev/null || echo "Z:$work/images")"
log="$(winepath -w "$work/windows.log" 2>/dev/null || echo "Z:$work/windows.log")"
run_pair windows "$wine" "$windows/cli/qor-oneclick-cli.exe"
stop_sim

start_sim "$wine" "$windows/sim/qor-router-sim.exe"
images="$work/images"
log="$work/linux.log"
run_pair linux "$linux/cli/qor-oneclick-cli"
stop_sim

status=0
for c in check upgrade; do
  if ! cmp -s "$work/windows-$c.cmp" "$work/linux-$c.cmp"; then
    echo "$c: the JSON differs between the Windows tool on Linux's emulator and the Linux tool on Windows's"
    diff "$work/windows-$c.cmp" "$work/linux-$c.cmp" || true
    status=1
  fi
done
grep -q '"result":"upgraded"' "$work/windows-upgrade.cmp" || { echo "the Windows tool did not upgrade"; status=1; }
grep -q '"result":"upgraded"' "$work/linux-upgrade.cmp" || { echo "the Linux tool did not upgrade"; status=1; }
echo "interop: check and upgrade both ways in $(( $(date +%s) - start )) s: $([ $status = 0 ] && echo same JSON || echo FAILED)"
exit $status
