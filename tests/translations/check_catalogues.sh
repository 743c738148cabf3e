#!/bin/sh
# Extracts every Tr("...") and N_("...") text from the sources into a fresh template and checks that
# every .po file translates all of them (msgcmp counts an untranslated or fuzzy message as missing)
# and compiles without a format error.
#   check_catalogues.sh <source dir> <xgettext> <msgcmp> <msgfmt> "<xgettext args>" "<source globs>"
set -eu
src=$1 xgettext=$2 msgcmp=$3 msgfmt=$4
args=$(printf '%s' "$5" | tr ';' ' ')
globs=$(printf '%s' "$6" | tr ';' ' ')
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$src"
# shellcheck disable=SC2086
files=$(ls $globs 2>/dev/null | LC_ALL=C sort)
# shellcheck disable=SC2086
"$xgettext" $args -o "$tmp/qor-oneclick.pot" $files
count=$(grep -c '^msgid ' "$tmp/qor-oneclick.pot")
echo "$((count - 1)) texts marked for translation"
[ "$count" -gt 50 ] || { echo "too few texts extracted: the extraction is broken"; exit 1; }
status=0
for po in resources/translations/*.po; do
  echo "checking $po"
  "$msgcmp" "$po" "$tmp/qor-oneclick.pot" || status=1
  "$msgfmt" --check --statistics -o /dev/null "$po" || status=1
  # a message the sources no longer have is left over from an old text
  if grep -q '^#~ ' "$po"; then
    echo "$po keeps obsolete messages (#~): run the qor_update_pot target"
    status=1
  fi
done
exit $status
