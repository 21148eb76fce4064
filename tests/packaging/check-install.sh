#!/bin/sh
# check-install.sh install|deb CMAKE BUILD_DIR PATH...: installs the build into a
# throw-away root, or packs it with CPack, and checks that every PATH (relative
# to /usr) is there. The deb mode exits 77 (skipped) without the Debian tools.
set -eu
mode=$1
cmake=$2
build=$3
shift 3

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

case $mode in
install)
    DESTDIR="$stage/root" "$cmake" --install "$build" --prefix /usr >"$stage/log" 2>&1 || { cat "$stage/log"; exit 1; }
    (cd "$stage/root" && find . ! -type d) | sed 's|^\./|/|' | sort >"$stage/files"
    if command -v appstreamcli >/dev/null 2>&1; then
        # Checks the installed metainfo against its file name and its desktop entry.
        appstreamcli validate-tree --no-net "$stage/root" || exit 1
    fi
    ;;
deb)
    for tool in dpkg-deb dpkg-shlibdeps; do
        command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed (dpkg-dev)"; exit 77; }
    done
    cpack="$(dirname "$cmake")/cpack"
    "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$stage/out" >"$stage/log" 2>&1 || { cat "$stage/log"; exit 1; }
    deb=$(ls "$stage"/out/*.deb)
    echo "packed $(basename "$deb")"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort >"$stage/files"
    [ "$(dpkg-deb -f "$deb" Package)" = essaimeur ] || { echo "the package is not named essaimeur"; exit 1; }
    [ "$(dpkg-deb -f "$deb" Section)" = utils ] || { echo "the package is not in section utils"; exit 1; }
    if grep -qx /usr/bin/essaimeur "$stage/files"; then
        # dpkg-shlibdeps found the Qt libraries the program links.
        dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "Depends lacks the Qt libraries"; exit 1; }
    fi
    ;;
*)
    echo "unknown mode: $mode"
    exit 2
    ;;
esac

missing=0
for path in "$@"; do
    grep -qx "/usr/$path" "$stage/files" || { echo "missing: /usr/$path"; missing=1; }
done
[ $missing = 0 ] || { echo "installed:"; cat "$stage/files"; }
exit $missing
