#!/usr/bin/env bash
# Installs a build tree into a scratch prefix and checks that a desktop finds Varlow there: both
# programs, a valid desktop entry that opens the stream types, the icon and the type definition.
set -euo pipefail
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install check: $*" >&2; exit 1; }
for f in bin/varlow bin/varlow-cli libexec/varlow/varlow-cli-picture; do [ -x "$prefix/$f" ] || fail "$f missing"; done
desktop=$prefix/share/applications/varlow.desktop
mime=$prefix/share/mime/packages/varlow.xml
for f in "$desktop" "$mime" "$prefix/share/icons/hicolor/scalable/apps/varlow.svg" \
         "$prefix"/share/icons/hicolor/{48x48,128x128,256x256}/apps/varlow.png; do
  [ -s "$f" ] || fail "$f missing"
done

"$prefix/bin/varlow-cli" --version | grep -q '^varlow-cli Version ' || fail "installed varlow-cli has no version"
# The picture command runs in its own program among the private ones: the installed varlow-cli
# must find it there.
sample=$(dirname "$0")/../samples/sample.m2v
offset=$("$prefix/bin/varlow-cli" pictures "$sample" --csv | sed -n '2s/,.*//p')
QT_QPA_PLATFORM=offscreen "$prefix/bin/varlow-cli" picture "$sample" --offset "$offset" --png "$prefix/picture.png" ||
  fail "installed varlow-cli cannot draw a picture"
[ -s "$prefix/picture.png" ] || fail "installed varlow-cli wrote no picture"
grep -qx 'Exec=varlow %f' "$desktop" || fail "desktop entry does not pass the file"
type=$(sed -n 's/^MimeType=\(.*\);$/\1/p' "$desktop")
[ -n "$type" ] || fail "desktop entry lists no MimeType"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop entry is not valid"
fi
python3 - "$mime" "$type" <<'PY' || fail "type definition does not claim the stream types"
import sys, xml.etree.ElementTree as ET
ns = {'m': 'http://www.freedesktop.org/standards/shared-mime-info'}
node = ET.parse(sys.argv[1]).getroot().find(f"m:mime-type[@type='{sys.argv[2]}']", ns)
globs = {g.get('pattern') for g in node.findall('m:glob', ns)} if node is not None else set()
sys.exit(0 if {'*.m2v', '*.m1v', '*.mpv'} <= globs else 1)
PY
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database refused the type"
  grep -q '^video/mpv:\*\.m2v$' "$prefix/share/mime/globs" || fail "*.m2v is not mapped to video/mpv"
fi
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$prefix/share/applications"
  grep -q "^$type=.*varlow.desktop" "$prefix/share/applications/mimeinfo.cache" ||
    fail "the desktop database does not offer varlow for $type"
fi
echo "install check passed"
