#!/bin/sh
# check-install.sh install|deb CMAKE BUILD_DIR PATH...: installs the build into a
# throw-away root, where it validates the desktop entry and metainfo, or packs it with
# CPack, where lintian finds neither error nor warning; either way checks that every
# PATH (relative to /usr) is there. Without the Debian tools or the validators: exit 77
# (skipped).
set -eu
mode=$1 cmake=$2 build=$3 status=0
shift 3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
need() { for tool; do command -v $tool >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }; done; }
# The output of a step that fails, and only then.
quiet() { "$@" >"$stage/log" 2>&1 || { cat "$stage/log"; exit 1; }; }

if [ "$mode" = install ]; then
    need appstreamcli desktop-file-validate
    quiet env DESTDIR="$stage/root" "$cmake" --install "$build" --prefix /usr
    (cd "$stage/root" && find . ! -type d) | sed 's|^\.||' >"$stage/files"
    # The installed metainfo against its file name and its desktop entry; that entry, where a warning fails too.
    appstreamcli validate-tree --no-net "$stage/root"
    output=$(desktop-file-validate "$stage"/root/usr/share/applications/*.desktop 2>&1) && [ -z "$output" ] || { echo "$output"; exit 1; }
else
    need dpkg-deb dpkg-shlibdeps lintian
    quiet "$(dirname "$cmake")/cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$stage/out"
    deb=$(ls "$stage"/out/*.deb)
    lintian --fail-on error,warning --tag-display-limit 0 "$deb" || status=1
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' >"$stage/files"
    # dpkg-shlibdeps found the Qt libraries the program links; the fonts are declared.
    for field in '^Package: essaimeur$' '^Section: utils$' '^Depends:.*fonts-liberation' '^Recommends: udisks2$' \
                 $(grep -qx /usr/bin/essaimeur "$stage/files" && echo '^Depends:.*libqt6widgets6'); do
        dpkg-deb -f "$deb" | grep -q "$field" || { echo "no $field in:"; dpkg-deb -f "$deb"; exit 1; }
    done
fi
for path; do grep -qx "/usr/$path" "$stage/files" || { echo "missing: /usr/$path"; status=1; }; done
[ $status = 0 ] || { echo "installed:"; cat "$stage/files"; exit 1; }
