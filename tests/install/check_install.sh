#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop needs of it: the program, a
# valid launcher that claims only the encrypted file's type, the icon, that type (recognised by its
# header tag, whatever the file's name) and the user guide.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$prefix/bin/lockvane" ] || fail "program not installed"
desktop="$prefix/share/applications/lockvane.desktop"
[ -f "$desktop" ] || fail "no .desktop file"
desktop-file-validate "$desktop" || fail "desktop-file-validate refused the .desktop file"
grep -q '^Exec=lockvane %F$' "$desktop" || fail "the launcher does not hand over files"
grep -q 'application/x-lockvane-encrypted' "$desktop" || fail "the launcher does not open encrypted files"
# The launcher claims the encrypted file's type and nothing else: folders and other files stay with
# the programs the desktop chose for them.
update-desktop-database "$prefix/share/applications" || fail "update-desktop-database refused the launcher"
claimed=$(grep 'lockvane\.desktop' "$prefix/share/applications/mimeinfo.cache" | cut -d= -f1 | sort | tr '\n' ' ')
[ "$claimed" = "application/x-lockvane-encrypted " ] || fail "the launcher claims other types: $claimed"
[ -f "$prefix/share/icons/hicolor/scalable/apps/lockvane.svg" ] || fail "no icon"
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' \
  "$prefix/share/icons/hicolor/scalable/apps/lockvane.svg" || fail "the icon is no valid SVG"
head -c 5 "$prefix/share/doc/lockvane/UserGuide.pdf" | grep -q '%PDF-' || fail "no user guide PDF"

# The type database built from the installed entry knows the type by its magic and by its name.
update-mime-database "$prefix/share/mime" > /dev/null 2>&1 || fail "update-mime-database refused the entry"
[ -f "$prefix/share/mime/application/x-lockvane-encrypted.xml" ] || fail "type not in the database"
grep -q 'application/x-lockvane-encrypted' "$prefix/share/mime/globs2" || fail "no *.cdx glob"
grep -aq '__LVEFCDX__VER__' "$prefix/share/mime/magic" || fail "no header magic"
echo "installation complete and valid"
