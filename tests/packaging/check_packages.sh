#!/usr/bin/env bash
# Checks the three packages as the systems that receive them will read them: the
# .deb's menu entry, metainfo, file list, computed dependencies and lintian's
# verdict; the zip's contents and the resources Windows and Explorer read from
# the .exe inside it (a manifest Windows would refuse stops the program from
# starting at all, though Wine starts it); the MSI's tables, then the MSI
# installed, started from its shortcut, upgraded and removed under Wine.
# Prints the validators' output and one "PASS: name" or "FAIL: name" line per
# check; exits 1 when a check failed.
#   check_packages.sh quorvel_<version>_amd64.deb quorvel-<version>-windows-x64.zip quorvel-<version>-x64.msi BUILD
# BUILD is the Windows build tree: its cpack configuration makes the next
# version's MSI, and a copy of its end-to-end prefix of Wine is installed into.
set -u
DEB=$1 ZIP=$2 MSI=$3 BUILD=$(realpath "$4") ID=io.github.quorvel.Quorvel
work=$(mktemp -d)
export WINEPREFIX=$BUILD/msi-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k 2>/dev/null; rm -rf "$work" "$WINEPREFIX"' EXIT
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

# Installs for the user alone without elevation (no ALLUSERS, Word Count bit 8),
# only into the profile and under HKCU, each component keyed by an HKCU value
# as Windows Installer requires there (ICE38, ICE43); the UpgradeCode stays,
# so that a newer version replaces this one.
table() { msiinfo export "$MSI" "$1" | tail -n +4; }
check "msi for the user alone, in the profile" eval 'hasAll "$(table Property)" ARPPRODUCTICON \
    "UpgradeCode	{02D8CE4D-3C24-49E2-BEB9-41AB4116B7CC}" && ! table Property | grep ^ALLUSERS &&
    (($(msiinfo suminfo "$MSI" | sed -n "s/^Source: \([0-9]*\).*/\1/p") & 8)) && ! table Registry | awk "\$2 != 1" | grep . &&
    [ "$(table Directory | awk "\$2 == \"TARGETDIR\" { print \$1 }" | sort | xargs)" = "LocalAppDataFolder ProgramMenuFolder" ] &&
    ! table Component | awk -F"\t" "\$4 % 8 < 4" | grep .'

# Installed, upgraded and removed as a user would, in a copy of the prefix the end-to-end test makes once.
e2e=$BUILD/platform/win32/wineprefix profile=$WINEPREFIX/drive_c/users/$(id -un)/AppData
[ -e "$e2e/system.reg" ] || WINEPREFIX=$e2e sh -c 'wineboot -i && wineserver -w' >/dev/null 2>&1
rm -rf "$WINEPREFIX" && cp -a "$e2e" "$WINEPREFIX"
exe=$profile/Local/Programs/Quorvel/quorvel.exe lnk="$profile/Roaming/Microsoft/Windows/Start Menu/Programs/Quorvel.lnk"
entries() { for hive in HKCU HKLM; do wine reg query "$hive\Software\Microsoft\Windows\CurrentVersion\Uninstall" /s; done 2>/dev/null; }
installed() {  # installed MSI VERSION: the program, the shortcut to it, one uninstall entry
    wine msiexec /i "$(winepath -w "$1")" /qn && [ -f "$exe" ] && strings "$lnk" | grep -qF 'Programs\Quorvel\quorvel.exe' &&
        [ "$(entries | grep -c DisplayName)" = 1 ] && hasAll "$(entries)" "DisplayVersion    REG_SZ    $2" \
        "Publisher    REG_SZ    The Quorvel developers"
}
check "msi installs" installed "$MSI" "$version"
check "installed program records a take" env QUORVEL_E2E_ONLY=complete_take python3 \
    "$(dirname "$0")/../tools/end_to_end.py" wine "$exe" "$BUILD/tests/win32/quorvel_texts_probe.exe" "$BUILD/artifacts/msi"
next=${version%.*}.$((${version##*.} + 1))
cpack -G External -D CPACK_PACKAGE_VERSION="$next" --config "$BUILD/CPackConfig.cmake" -B "$work/next" >/dev/null
check "next version's msi replaces it" installed "$work/next/quorvel-$next-x64.msi" "$next"
check "msi uninstalls" eval 'wine msiexec /x "$(winepath -w "$work/next/quorvel-$next-x64.msi")" /qn &&
    [ ! -e "${exe%/*}" ] && [ ! -e "$lnk" ] && ! entries | grep DisplayName'
exit "$failed"
