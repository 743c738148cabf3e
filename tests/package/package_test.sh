#!/bin/sh
# Builds the Debian package, checks its name, fields and contents, unpacks it into a temporary root
# and runs the programs from there: --version, --help, the terminal demo on loopback at a high
# speed, and the Chinese texts. Checks it with lintian (no error), desktop-file-validate and
# appstreamcli when they are installed.
#   package_test.sh <source dir> <package build dir> <cmake> <version> <generator>
set -eu
src=$1 build=$2 cmake=$3 version=$4 generator=$5
arch=$(dpkg --print-architecture)
deb="$build/qor-oneclick_${version}_${arch}.deb"
fail() { echo "FAILED: $*"; exit 1; }

started=$(date +%s)
rm -f "$deb"
"$cmake" -DSOURCE_DIR="$src" -DBINARY_DIR="$build" -DJOBS="${QOR_PACKAGE_JOBS:-2}" -DGENERATOR="$generator" \
  -P "$src/cmake/BuildPackage.cmake" > "$build.log" 2>&1 || { tail -n 60 "$build.log"; fail "the package build"; }
echo "package built in $(( $(date +%s) - started )) s: $deb ($(stat -c %s "$deb") bytes)"
[ -f "$deb" ] || fail "no $deb"

# the control fields: Depends worked out from the libraries (the sleep lock links libsystemd, the
# support report zlib), plus the platform plugin
fields=$(dpkg-deb --field "$deb" Package Version Architecture Depends Section Maintainer)
echo "$fields"
echo "$fields" | grep -qx "Package: qor-oneclick" || fail "package name"
echo "$fields" | grep -qx "Version: $version" || fail "version"
echo "$fields" | grep -qx "Architecture: $arch" || fail "architecture"
for dep in libc6 libstdc++6 libqt6widgets6 libqt6core6 libqt6network6 libsystemd0 zlib1g qt6-qpa-plugins; do
  echo "$fields" | grep "^Depends:" | grep -q "$dep" || fail "Depends lacks $dep"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# what an installation holds
for f in usr/bin/qor-oneclick usr/bin/qor-oneclick-cli usr/bin/qor-router-sim usr/bin/qor-mkimage \
         usr/share/man/man1/qor-oneclick.1.gz usr/share/man/man1/qor-oneclick-cli.1.gz \
         usr/share/man/man1/qor-router-sim.1.gz usr/share/man/man1/qor-mkimage.1.gz \
         usr/share/applications/qor-oneclick.desktop usr/share/metainfo/com.tavrix.qoroneclick.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/qor-oneclick.svg \
         usr/share/locale/zh_CN/LC_MESSAGES/qor-oneclick.mo \
         usr/share/qor-oneclick/translations/qor-oneclick_zh_CN.qm \
         usr/share/doc/qor-oneclick/copyright usr/share/doc/qor-oneclick/changelog.gz \
         usr/share/doc/qor-oneclick/qor-oneclick-cli.schema.json; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/qor-oneclick.png"
  [ -f "$png" ] || fail "the package lacks the ${size} px icon"
  file -b "$png" | grep -q "PNG image data, $size x $size" || fail "the ${size} px icon is $(file -b "$png")"
done
for p in qor-oneclick qor-oneclick-cli qor-router-sim qor-mkimage; do
  file -b "$root/usr/bin/$p" | grep -q ", stripped" || fail "$p is not stripped"
done
grep -q '<release version="'"$version"'"' "$root/usr/share/metainfo/com.tavrix.qoroneclick.metainfo.xml" \
  || fail "the metadata's release is not $version"
for p in qor-oneclick qor-oneclick-cli qor-router-sim qor-mkimage; do
  page=$(zcat "$root/usr/share/man/man1/$p.1.gz")
  # the page is titled and named after its program and has a synopsis (nothing else got in first)
  echo "$page" | grep -q "^\.TH $(echo "$p" | tr a-z A-Z) " || fail "man page of $p has another title"
  echo "$page" | grep -q "^$p \\\\- " || fail "man page of $p has another name line"
  echo "$page" | grep -q "^\.SH SYNOPSIS" || fail "man page of $p has no synopsis"
done
zcat "$root/usr/share/man/man1/qor-oneclick-cli.1.gz" | grep -q "EXIT STATUS" || fail "man page without exit statuses"
zcat "$root/usr/share/man/man1/qor-oneclick-cli.1.gz" | grep -q "JSON OUTPUT" || fail "man page without the JSON output"
zcat "$root/usr/share/man/man1/qor-oneclick-cli.1.gz" | grep -q "XDG_DATA_DIRS" || fail "man page without the image folders"

# the unpacked programs: no display, no language of the tester's, a private home
home="$root/home"
mkdir -p "$home"
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LC_ALL -u LC_MESSAGES LANG=C.UTF-8 LANGUAGE=en \
    HOME="$home" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" XDG_DATA_HOME="$home/data" \
    XDG_DATA_DIRS="$root/usr/share" "$@"
}
mkdir -p "$home/run" && chmod 700 "$home/run"
for p in qor-oneclick qor-oneclick-cli qor-router-sim qor-mkimage; do
  out=$(run "$root/usr/bin/$p" --version) || fail "$p --version"
  [ "$out" = "$p $version" ] || fail "$p --version printed '$out'"
  run "$root/usr/bin/$p" --help > "$root/help.txt" || fail "$p --help"
  grep -q -- "--version" "$root/help.txt" || fail "$p --help does not name --version"
done

# the whole job against the built-in emulator on loopback
started=$(date +%s)
run "$root/usr/bin/qor-oneclick-cli" demo --speed 20 --json > "$root/demo.json" 2> "$root/demo.err" \
  || { cat "$root/demo.err"; fail "the demo"; }
grep -q '"result":"upgraded"' "$root/demo.json" || { cat "$root/demo.json"; fail "the demo's result"; }
echo "demo from the package: upgraded in $(( $(date +%s) - started )) s"

# the Chinese texts come from the package's own catalogue and translation files
LANGUAGE_ZH="env LANGUAGE=zh_CN"
out=$(run $LANGUAGE_ZH "$root/usr/bin/qor-oneclick-cli" --help) || fail "qor-oneclick-cli --help in Chinese"
echo "$out" | grep -q "用法：qor-oneclick-cli" || fail "qor-oneclick-cli --help is not Chinese"
out=$(run $LANGUAGE_ZH "$root/usr/bin/qor-oneclick" --help) || fail "qor-oneclick --help in Chinese"
echo "$out" | grep -q "在 DIR 中查找 .bin 升级文件" || fail "qor-oneclick --help is not Chinese"

# the manual pages render without groff warnings
for p in qor-oneclick qor-oneclick-cli qor-router-sim qor-mkimage; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/usr/share/man/man1/$p.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page of $p: $warnings"
done

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/qor-oneclick.desktop" | grep -E "error|warning" \
    && fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/com.tavrix.qoroneclick.metainfo.xml" || fail "appstreamcli"
fi
if command -v lintian >/dev/null; then
  started=$(date +%s)
  lintian --fail-on error --display-info "$deb" > "$root/lintian.txt" 2>&1 || { cat "$root/lintian.txt"; fail "lintian"; }
  echo "lintian ($(( $(date +%s) - started )) s):"
  cat "$root/lintian.txt"
else
  echo "lintian is not installed: not run"
fi
echo "package test passed"
