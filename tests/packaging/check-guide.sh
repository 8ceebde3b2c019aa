#!/usr/bin/env bash
# The user's guide as the packages ship it: every picture it names is in docs/, the page the build rendered
# stands alone (its pictures inside, its charset declared, a byte-order mark for Notepad), the Debian package
# made from this build carries that page, and so does a Windows zip where one has been built since.
#   check-guide.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1
build=$2
guide=$source/docs/使用说明.md
page=$build/packaging/使用说明.html
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check-guide: $*" >&2
    exit 1
}

# Pictures are written ![caption](file), and lie beside the guide.
mapfile -t pictures < <(grep -oP '!\[[^]]*\]\(\K[^)]+' "$guide")
((${#pictures[@]} > 0)) || fail "the guide names no picture"
for picture in "${pictures[@]}"; do
    [[ -f $source/docs/$picture ]] || fail "the guide names $picture, which docs/ does not hold"
done

[[ -s $page ]] || fail "the build did not render $page"
[[ $(head -c 3 "$page" | od -An -tx1 | tr -d ' \n') == efbbbf ]] || fail "the page does not start with a byte-order mark"
grep -q '<meta charset="utf-8"' "$page" || fail "the page does not declare its charset"
shown=$(grep -o '<img ' "$page" | wc -l)
inside=$(grep -o '<img src="data:image/png;base64,' "$page" | wc -l)
((shown == ${#pictures[@]} && inside == shown)) ||
    fail "the page carries $inside of the guide's ${#pictures[@]} pictures inside itself, and shows $shown"

# The Debian package, made as `make package` makes it (under /usr, whatever this build's prefix), but from this
# build and into a scratch directory.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" -D CPACK_PACKAGING_INSTALL_PREFIX=/usr \
    > "$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack could not make the package"
fi
deb=$(ls "$work"/tolvar_*.deb)
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/tolvar/使用说明.html > "$work/packaged.html" ||
    fail "the package has no /usr/share/doc/tolvar/使用说明.html"
cmp -s "$work/packaged.html" "$page" || fail "the package's guide is not the page the build rendered"

# The Windows zip needs Qt for Windows, so it is checked only where `make windows` has made one since the guide
# last changed.
zip=$(ls -t "$source"/build/windows/Tolvar-*-win64.zip 2> /dev/null | head -1 || true)
if [[ -n $zip && $zip -nt $guide ]]; then
    python3 - "$zip" << 'EOF'
import sys, zipfile
entry = {i.filename: i for i in zipfile.ZipFile(sys.argv[1]).infolist()}.get("Tolvar/使用说明.html")
if entry is None:
    sys.exit("check-guide: the Windows zip has no Tolvar/使用说明.html")
# Without the UTF-8 mark Windows reads the name in the local code page and shows it garbled.
if not entry.flag_bits & 0x800:
    sys.exit("check-guide: the Windows zip does not mark the guide's name as UTF-8")
EOF
    echo "check-guide: $(basename "$zip") carries the guide"
else
    echo "check-guide: no Windows zip made since the guide changed (make windows makes one); not checked"
fi
echo "check-guide: ${#pictures[@]} pictures, all inside the page; the package carries it"
