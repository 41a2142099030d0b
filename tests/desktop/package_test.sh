#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian package from the finished build (CPack only, into a
# scratch folder), unpacks it into a scratch root and runs the tool from
# there.
#   package_test.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/qx_package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$work/quarnix_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb: $(ls "$work")"

[ "$(dpkg-deb -f "$deb" Package)" = quarnix ] || fail "Package"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version"
# Depends: the shared libraries as dpkg-shlibdeps found them, and the fonts.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libpng16-16 libjpeg62-turbo libtiff6 \
         libwmf-0.2-7 libemf2svg1 fonts-urw-base35; do
  [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] || fail "Depends lacks $p: $depends"
done

dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/quarnix usr/bin/quarnix-tool "usr/share/applications/$id.desktop" \
         "usr/share/metainfo/$id.metainfo.xml" "usr/share/mime/packages/$id.xml" \
         "usr/share/icons/hicolor/scalable/apps/$id.svg" "usr/share/icons/hicolor/256x256/apps/$id.png" \
         usr/share/man/man1/quarnix.1 usr/share/man/man1/quarnix-tool.1 usr/share/doc/quarnix/copyright; do
  [ -f "$work/root/$f" ] || fail "not in the package: $f"
done
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
grep -qx 'License: GPL-2.0-or-later' "$work/root/usr/share/doc/quarnix/copyright" || fail "copyright file licence"
for prog in quarnix-tool quarnix; do
  out=$("$work/root/usr/bin/$prog" --version) || fail "$prog --version"
  [ "$(head -1 <<<"$out")" = "$prog $version" ] || fail "$prog --version: $out"
  grep -q '^License GPL-2.0-or-later: ' <<<"$out" || fail "$prog --version names no licence: $out"
done
"$work/root/usr/bin/quarnix-tool" sample "$work/sample" >/dev/null
"$work/root/usr/bin/quarnix-tool" list "$work/sample/sample.dir" | head -1 | grep -qx $'Pos\tFPos\tSize\tName' ||
  fail "quarnix-tool list"
echo "packaged: $(basename "$deb")"
