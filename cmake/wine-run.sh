#!/bin/sh
# Runs a Windows program under Wine for CTest (the toolchain file's emulator):
#   wine-run.sh <wine loader> <program.exe> [arguments...]
# Now and then a Wine process loses its connection to Wine's server ("wine client error: ...
# recvmsg"), which ends it before the program has done anything of its own. Such a run is made once
# more, and says so; any other failure is the program's and is kept.
wine=$1
shift
out=$(mktemp)
err=$(mktemp)
"$wine" "$@" >"$out" 2>"$err"
rc=$?
if [ "$rc" -ne 0 ] && grep -q "^wine client error" "$err"; then
  cat "$err" >&2
  echo "Wine lost its server connection; running the program once more" >&2
  "$wine" "$@" >"$out" 2>"$err"
  rc=$?
fi
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit "$rc"
