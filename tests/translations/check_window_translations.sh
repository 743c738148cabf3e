#!/bin/sh
# Runs lupdate over the window's sources into a copy of every .ts file: a text that is new, changed
# or still unfinished shows as type="unfinished" and fails the check.
#   check_window_translations.sh <source dir> <lupdate>
set -eu
src=$1 lupdate=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$src"
status=0
found=0
for ts in resources/translations/qor-oneclick_*.ts; do
  [ -e "$ts" ] || continue
  found=1
  copy="$tmp/$(basename "$ts")"
  cp "$ts" "$copy"
  "$lupdate" -silent -no-obsolete -locations none -I . app controls -ts "$copy"
  total=$(grep -c '<message' "$copy" || true)
  missing=$(grep -c 'type="unfinished"' "$copy" || true)
  echo "$ts: $total texts, $missing without a translation"
  if [ "$missing" -ne 0 ]; then
    grep -B2 'type="unfinished"' "$copy" | grep '<source>' || true
    status=1
  fi
  [ "$total" -gt 10 ] || { echo "too few texts found: the extraction is broken"; status=1; }
done
[ "$found" = 1 ] || { echo "no window translation found"; exit 1; }
exit $status
