#!/bin/sh
# The Windows test programs under Wine, then the interoperability test (interop.sh), with one
# throw-away Wine prefix whose server stays up for the whole run: a fresh prefix takes Wine some
# 15 s to make, which each test program would otherwise pay again.
#   run-tests.sh <Windows build folder> <Linux build folder> [ctest arguments...]
# Run it inside a private network namespace with loopback up (make test-windows does).
set -u
windows=$1
linux=$2
shift 2
wine=$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)
work=$(mktemp -d)
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
export WINEPREFIX="$work/wine" WINEDEBUG=-all
# The clock scale of the procedures' runs against the emulator (20 on Linux): under Wine each
# socket call takes longer, and at 20 the emulator's Telnet replies come too late now and then.
# The interoperability test sets its own (the CLI's console dialogue needs 5).
windows_scale="${QOR_TEST_CLOCK_SCALE:-10}"

timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || { echo "Wine could not make its prefix"; exit 1; }
wineserver -p

echo "Left out of the Windows build, and why:"
ctest --test-dir "$windows" -R '^windows[.]skipped[.]' -V 2>/dev/null | sed -n 's/^[0-9]*: skipped on Windows: /  /p'

rc=0
QOR_TEST_CLOCK_SCALE="$windows_scale" ctest --test-dir "$windows" "$@" || rc=1
"$(dirname "$0")/interop.sh" "$linux" "$windows" || rc=1
exit $rc
