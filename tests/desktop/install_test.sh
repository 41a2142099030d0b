#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the build into a scratch prefix and checks what a desktop finds
# there: the programs, the desktop entry, the file types, the icon, the
# metainfo and the man pages, with the desktop's own validators.
#   install_test.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
root=$(mktemp -d "${TMPDIR:-/tmp}/qx_install.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$root/usr" >/dev/null
usr=$root/usr
desktop=$usr/share/applications/$id.desktop
metainfo=$usr/share/metainfo/$id.metainfo.xml
mime=$usr/share/mime/packages/$id.xml
for f in bin/quarnix bin/quarnix-tool "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
         "share/mime/packages/$id.xml" "share/icons/hicolor/scalable/apps/$id.svg" \
         "share/icons/hicolor/256x256/apps/$id.png" share/man/man1/quarnix.1 share/man/man1/quarnix-tool.1 \
         share/doc/quarnix/copyright; do
  [ -f "$usr/$f" ] || fail "not installed: $f"
done

# The validators: any complaint, even a warning, fails.
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"

# The desktop entry, the metainfo, the icon and the file types agree.
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Exec)" = "quarnix %f" ] || fail "Exec=$(entry Exec)"
[ "$(entry Icon)" = "$id" ] || fail "Icon=$(entry Icon)"
grep -q '<project_license>GPL-2.0-or-later</project_license>' "$metainfo" || fail "metainfo project_license"
grep -qx 'License: GPL-2.0-or-later' "$usr/share/doc/quarnix/copyright" || fail "copyright file licence"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
declared=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$mime" | sort | tr '\n' ';')
listed=$(entry MimeType | tr ';' '\n' | sed '/^$/d' | sort | tr '\n' ';')
[ -n "$declared" ] && [ "$declared" = "$listed" ] || fail "MimeType=$listed, declared: $declared"

# shared-mime-info compiles the package and maps both patterns to our types,
# also in upper case (MODELS.DIR).
out=$(XDG_DATA_DIRS=$usr/share update-mime-database "$usr/share/mime" 2>&1) || fail "update-mime-database: $out"
[ -z "$out" ] || fail "update-mime-database: $out"
grep -qx '50:application/x-ostrel-texture-dictionary:\*\.txd' "$usr/share/mime/globs2" || fail "no *.txd glob"
grep -qx '50:application/x-ostrel-archive-directory:\*\.dir' "$usr/share/mime/globs2" || fail "no *.dir glob"
if grep -q ':cs' "$usr/share/mime/globs2"; then fail "a case-sensitive glob"; fi
# The single-file archive is told by its first bytes, never by *.img: the
# data file of an archive directory is not claimed.
grep -q 'application/x-ostrel-archive' "$usr/share/mime/magic" || fail "no magic for the VER2 archive"
if grep -q 'x-ostrel-archive:\*\.img' "$usr/share/mime/globs2"; then fail "an *.img glob"; fi

file -b "$usr/share/icons/hicolor/256x256/apps/$id.png" | grep -q '^PNG image data, 256 x 256,' ||
  fail "256 px icon: $(file -b "$usr/share/icons/hicolor/256x256/apps/$id.png")"

# The man pages come from the programs' help: their names, and every command
# of the tool.
grep -q '^\.TH QUARNIX "1"' "$usr/share/man/man1/quarnix.1" || fail "quarnix.1 title"
grep -q '^quarnix \\- ' "$usr/share/man/man1/quarnix.1" || fail "quarnix.1 name"
for command in list textures export export-all extract extract-all import import-all add-texture remove-texture \
               rename-texture new-txd convert sample info new add replace remove rename rebuild undo redo; do
  grep -qx "\.SS $command" "$usr/share/man/man1/quarnix-tool.1" || fail "quarnix-tool.1 lacks $command"
done

# The installed programs answer --version and --help without a display.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
# The version line, then the licence.
for prog in quarnix quarnix-tool; do
  out=$("$usr/bin/$prog" --version) || fail "$prog --version"
  [ "$(head -1 <<<"$out")" = "$prog $version" ] || fail "$prog --version: $out"
  grep -q '^License GPL-2.0-or-later: ' <<<"$out" || fail "$prog --version names no licence: $out"
done
"$usr/bin/quarnix" --help | head -1 | grep -qx 'Usage: quarnix \[options\] \[FILE\]' || fail "quarnix --help"
echo "installed and valid: $id $version"
