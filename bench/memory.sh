#!/bin/bash
# Memory figures for the performance table, from the real programs on loopback:
#   check    the terminal tool's peak resident memory during a Check with 256 MiB of images (four
#            64 MiB images: the tool keeps its own copy of each), beside the images' size;
#   emulator the router emulator's peak growth while it receives a 64 MiB router image, beside the
#            bytes it keeps of that image (it holds a received image whole, as the router's flash
#            would).
# Prints "row role value" lines (values in MiB), as run-table.sh reads them.
#   bench/memory.sh <build folder> <work folder>
# Run it inside a private network namespace with loopback up (make bench does).
set -eu
build=$1
work=$2
mib=$((1 << 20))
size=$((64 * mib))
scale=50
export QOR_TEST_CLOCK_SCALE=$scale

sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work/images" "$work/one"
}
trap cleanup EXIT

mkimage="$build/tools/qor-mkimage"
mkdir -p "$work/images" "$work/one"
"$mkimage" router --module 0 --version 1.2.3.1 --payload "gen:$size:1" -o "$work/images/boot.bin" >/dev/null
"$mkimage" router --module 1 --version 1.2.7.1 --payload "gen:$size:2" -o "$work/images/app.bin" >/dev/null
"$mkimage" wireless --kind firmware --version 99.0.0.1 --unit "0x100000:gen:$size:3" \
  -o "$work/images/firmware.bin" >/dev/null
"$mkimage" wireless --kind dashboard --version 99.0.0.1 --unit "0x100000:gen:$size:4" \
  -o "$work/images/dashboard.bin" >/dev/null
cp "$work/images/app.bin" "$work/one/app.bin"

# starts an emulator on free ports and reads them from its banner
start_sim() {
  "$build/sim/qor-router-sim" --udp-port 0 --link-port 0 --telnet-port 0 --write-ms 0 --restart-ms 0 --cfe-version 1.2.0.1 --app-version 1.2.0.5 \
    --time-scale "$scale" --quiet >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 200); do
    grep -q "qor-router-sim: router" "$work/sim.out" && break
    sleep 0.05
  done
  banner=$(grep "qor-router-sim: router" "$work/sim.out")
  udp=$(sed -E 's/.*UDP ([0-9]+),.*/\1/' <<< "$banner")
  link=$(sed -E 's/.*link ([0-9]+),.*/\1/' <<< "$banner")
  telnet=$(sed -E 's/.*telnet ([0-9]+),.*/\1/' <<< "$banner")
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
cli() {
  "$build/cli/qor-oneclick-cli" "$@" --discovery-address 127.0.0.1 --udp-port "$udp" --link-port "$link" \
    --telnet-port "$telnet" --log "$work/log.txt" --quiet
}
# resident and peak resident memory of a process, in KiB
kib() { awk -v k="$2" '$1 == k":" { print $2 }' "/proc/$1/status"; }

# the Check: its peak resident memory (GNU time's %M, KiB) beside the images' size
start_sim
images_kib=$(du -k --apparent-size -c "$work"/images/*.bin | tail -1 | cut -f1)
/usr/bin/time -f '%M' -o "$work/time.out" "$build/cli/qor-oneclick-cli" check --images "$work/images" \
  --discovery-address 127.0.0.1 --udp-port "$udp" --link-port "$link" --telnet-port "$telnet" \
  --log "$work/log.txt" --quiet >/dev/null 2>&1 || true
peak_kib=$(tail -1 "$work/time.out")
stop_sim
echo "check reference $(awk -v k="$images_kib" 'BEGIN { printf "%.1f", k / 1024 }')"
echo "check subject $(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }')"

# the emulator: its peak growth while a 64 MiB router image arrives, beside what it keeps of it
start_sim
before=$(kib "$sim_pid" VmRSS)
cli upgrade --images "$work/one" --yes >"$work/upgrade.out" 2>&1 || true
peak=$(kib "$sim_pid" VmHWM)
stop_sim
echo "emulator reference 64.0"
echo "emulator subject $(awk -v a="$before" -v b="$peak" 'BEGIN { printf "%.1f", (b - a) / 1024 }')"
