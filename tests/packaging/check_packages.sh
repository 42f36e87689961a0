#!/usr/bin/env bash
# Checks the two packages as the systems that receive them will read them: the
# .deb's menu entry, metainfo, file list, computed dependencies and lintian's
# verdict; the zip's contents and the resources Windows and Explorer read from
# the .exe inside it (a manifest Windows would refuse stops the program from
# starting at all, though Wine starts it).
# Prints the validators' output and one "PASS: name" or "FAIL: name" line per
# check; exits 1 when a check failed.
#   check_packages.sh quorvel_<version>_amd64.deb quorvel-<version>-windows-x64.zip
set -u
DEB=$1 ZIP=$2 ID=io.github.quorvel.Quorvel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

check() {  # check NAME COMMAND...
    local name=$1 out status
    shift
    out=$("$@" 2>&1)
    status=$?
    [ -z "$out" ] || sed 's/^/    /' <<<"$out"
    if [ "$status" -eq 0 ]; then echo "PASS: $name"; else echo "FAIL: $name"; failed=1; fi
}

hasAll() {  # hasAll TEXT NEEDLE...: every needle occurs in the text
    local text=$1 needle
    shift
    for needle in "$@"; do
        grep -qF -- "$needle" <<<"$text" || { echo "missing: $needle"; return 1; }
    done
}

version=$(dpkg-deb -f "$DEB" Version)
dpkg-deb -x "$DEB" "$work/deb"
unzip -q "$ZIP" -d "$work/zip"
exe=$(find "$work/zip" -name quorvel.exe)
wrestool -x --raw -t 24 "$exe" >"$work/manifest.xml"

# desktop-file-validate still exits 0 on some errors ("will be fatal in the future"): any remark fails.
check "desktop entry valid" bash -c '! desktop-file-validate "$0" 2>&1 | grep .' "$work/deb/usr/share/applications/$ID.desktop"
check "metainfo valid" appstreamcli validate --no-net "$work/deb/usr/share/metainfo/$ID.metainfo.xml"
check "metainfo names this release" grep -q "<release version=\"$version\"" "$work/deb/usr/share/metainfo/$ID.metainfo.xml"
check "deb file list" hasAll "$(dpkg-deb -c "$DEB")" ./usr/bin/quorvel "/applications/$ID.desktop" \
    "/icons/hicolor/scalable/apps/$ID.svg" "/metainfo/$ID.metainfo.xml" /doc/quorvel/copyright
check "deb depends computed from the binary" hasAll "$(dpkg-deb -f "$DEB" Depends)" "libqt6widgets6 (" "libpulse0 ("
check "lintian without errors" lintian --fail-on error "$DEB"
check "zip contents" hasAll "$(unzip -l "$ZIP")" /quorvel.exe /README.md /LICENSE /THIRD-PARTY-NOTICES.txt
check "exe icon, version and manifest" hasAll "$(wrestool -l "$exe"; cat "$work/manifest.xml"
    wrestool -x --raw -t 16 "$exe" | strings -el | tr '\n' ' ')" type=group_icon "ProductVersion $version " \
    Microsoft.Windows.Common-Controls \
    '<gdiScaling xmlns="http://schemas.microsoft.com/SMI/2017/WindowsSettings">true'
# Windows refuses a malformed manifest, or one whose own version has not four parts.
check "exe manifest well-formed" python3 -c 'import re, sys, xml.dom.minidom as dom; text = open(sys.argv[1]).read()
dom.parseString(text); assert re.search(r"<assembly [^>]*>\s*<assemblyIdentity [^>]*version=\"\d+(\.\d+){3}\"", text)' "$work/manifest.xml"
exit "$failed"
