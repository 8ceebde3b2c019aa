#!/usr/bin/env bash
# Installs the build into a staging prefix and checks what lands there, and that the desktop entry, the
# metainfo and the service unit pass their validators.
set -euo pipefail
build=$1
stage=$(mktemp -d)
lists=$(mktemp -d)
trap 'rm -rf "$stage" "$lists"' EXIT

cmake --install "$build" --prefix "$stage/usr" > /dev/null
(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort) > "$lists/got"

expected=(
    usr/bin/tolvar
    usr/share/doc/tolvar/changelog.gz
    usr/share/doc/tolvar/copyright
    usr/share/doc/tolvar/使用说明.html
    usr/share/applications/org.example.tolvar.desktop
    usr/share/icons/hicolor/128x128/apps/tolvar.png
    usr/share/icons/hicolor/256x256/apps/tolvar.png
    usr/share/icons/hicolor/32x32/apps/tolvar.png
    usr/share/icons/hicolor/48x48/apps/tolvar.png
    usr/share/icons/hicolor/scalable/apps/tolvar.svg
    usr/share/man/man1/tolvar.1.gz
    usr/share/metainfo/org.example.tolvar.metainfo.xml
)
if [[ -n "${LOOKUPD:-}" ]]; then
    expected+=(
        usr/bin/tolvar-lookupd
        usr/lib/systemd/system/tolvar-lookupd.service
        usr/share/man/man1/tolvar-lookupd.1.gz
    )
fi
printf '%s\n' "${expected[@]}" | sort > "$lists/want"
diff -u "$lists/want" "$lists/got"

desktop-file-validate "$stage/usr/share/applications/org.example.tolvar.desktop"
appstreamcli validate --no-net --pedantic "$stage/usr/share/metainfo/org.example.tolvar.metainfo.xml"
for size in 32 48 128 256; do
    [[ $(identify -format '%wx%h' "$stage/usr/share/icons/hicolor/${size}x${size}/apps/tolvar.png") == "${size}x${size}" ]]
done
if [[ -n "${LOOKUPD:-}" ]] && command -v systemd-analyze > /dev/null; then
    # The unit names the installed program by its final path; check it against the staged one.
    sed "s|^ExecStart=[^ ]*/tolvar-lookupd|ExecStart=$stage/usr/bin/tolvar-lookupd|" \
        "$stage/usr/lib/systemd/system/tolvar-lookupd.service" > "$lists/tolvar-lookupd.service"
    SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$lists/tolvar-lookupd.service"
fi
[[ $(zcat "$stage/usr/share/man/man1/tolvar.1.gz") == *".TH TOLVAR"* ]]
echo "staged install: $(wc -l < "$lists/got") files, all as expected"
