#!/usr/bin/env bash
# Builds the Debian package with CPack in the build folder, checks its files, control fields,
# lintian, AppStream, manual page and desktop entry, then unpacks it into a staging root and
# runs the end-to-end smoke checks on the unpacked program, and MATE's screen saver on the unpacked
# tree. Every failure is one line.
# Usage: check-package.sh CPACK BUILD_DIR VERSION E2E_TESTS
set -uo pipefail
cpack=$1 build=$2 version=$3 e2e=$4 work=$2/package-check failures=0
fail() { echo "package check failed: $*" >&2; failures=$((failures + 1)); }

rm -rf "$work" "$build"/digitmosaic_*.deb && mkdir -p "$work"
(cd "$build" && "$cpack" -G DEB) >"$work/cpack.log" 2>&1 || { fail "cpack -G DEB: see $work/cpack.log"; exit 1; }
deb=$(ls "$build"/digitmosaic_"$version"_*.deb 2>/dev/null)
[[ -f $deb ]] || { fail "no digitmosaic_${version}_ARCH.deb in $build"; exit 1; }

# Files with their modes (and where the link points), folders drwxr-xr-x root/root.
expected="./usr/bin/digitmosaic -rwxr-xr-x
./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/digitmosaic/digitmosaic_toolkit.so -rw-r--r--
./usr/libexec/xscreensaver/digitmosaic lrwxrwxrwx ../../bin/digitmosaic
./usr/share/applications/screensavers/digitmosaic.desktop -rw-r--r--
./usr/share/doc/digitmosaic/changelog.gz -rw-r--r--
./usr/share/doc/digitmosaic/copyright -rw-r--r--
./usr/share/lintian/overrides/digitmosaic -rw-r--r--
./usr/share/man/man6/digitmosaic.6.gz -rw-r--r--
./usr/share/metainfo/org.example.digitmosaic.metainfo.xml -rw-r--r--
./usr/share/xscreensaver/config/digitmosaic.xml -rw-r--r--"
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print $6, $1, $8}' <<<"$listing" | sed 's/ $//' | LC_ALL=C sort)
[[ $files == "$expected" ]] || fail "file list differs: $(diff <(echo "$expected") <(echo "$files") | grep '^[<>]' | tr '\n' ' ')"
dirs=$(awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") {print $6}' <<<"$listing")
[[ -z $dirs ]] || fail "folders not drwxr-xr-x root/root: $dirs"

field() { dpkg-deb -f "$deb" "$1"; }
for pair in Package=digitmosaic Version="$version" Section=x11 Recommends=qt6-wayland \
    "Suggests=xscreensaver | mate-screensaver | xss-lock"; do
    [[ $(field "${pair%%=*}") == "${pair#*=}" ]] || fail "${pair%%=*} is '$(field "${pair%%=*}")', not ${pair#*=}"
done
for library in libqt6core6 libqt6gui6 libqt6widgets6 libc6; do
    [[ $(field Depends) =~ (^|, )$library\ \( ]] || fail "Depends names no versioned $library: '$(field Depends)'"
done

# No lintian tag at all, down to the pedantic ones and the informational ones.
lintian --pedantic -I -E --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
tag=$(grep -Em1 '^[EWIPXOC]: ' "$work/lintian.log") && fail "lintian: $tag"

root=$work/root share=$work/root/usr/share
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x could not unpack $deb"; exit 1; }
appstream=$(appstreamcli validate --no-net --pedantic "$share"/metainfo/*.xml 2>&1)
[[ $? == 0 && $appstream != *[EWIP]:* ]] || fail "appstreamcli validate: $(echo "$appstream" | head -1)"
groff=$(zcat "$share/man/man6/digitmosaic.6.gz" | groff -ww -man -Tutf8 2>&1 >/dev/null)
[[ -z $groff ]] || fail "groff -ww: $(echo "$groff" | head -1)"
desktop=$(desktop-file-validate "$share/applications/screensavers/digitmosaic.desktop" 2>&1)
[[ $? == 0 && $desktop != *error:* && $desktop != *warning:* ]] || fail "desktop-file-validate: $(echo "$desktop" | grep -m1 -e error: -e warning:)"
xmllint --noout "$share/xscreensaver/config/digitmosaic.xml" 2>/dev/null &&
    grep -q '<command arg="/s"/>' "$share/xscreensaver/config/digitmosaic.xml" ||
    fail "the XScreenSaver entry is no well-formed XML with the command /s"

smoke=(EndToEnd.Saver EndToEnd.AboutWindow InMateScreensaver.)
DIGITMOSAIC_BINARY=$root/usr/bin/digitmosaic DIGITMOSAIC_INSTALLED=$root "$e2e" \
    --gtest_filter="$(printf '%s*:' "${smoke[@]}")" >"$work/e2e.log" 2>&1 ||
    fail "the unpacked program fails the end-to-end smoke checks: $(grep -m1 '^\[  FAILED  \]' "$work/e2e.log")"
# A check that skips for this user (MATE's, without root or user namespaces) passes, saying why.
for check in "${smoke[@]}"; do
    if grep -q "^\[  SKIPPED \] $check" "$work/e2e.log"; then
        echo "package: $check* skipped: $(sed -n "/^\[ RUN      \] $check/,/^\[/{/: Skipped\$/{n;p;q}}" "$work/e2e.log")"
    elif ! grep -q "^\[       OK \] $check" "$work/e2e.log"; then
        fail "no $check* check passed on the unpacked program"
    fi
done
((failures == 0)) && echo "package: $deb checked"; exit $((failures > 0))
