#!/bin/sh
# check-install.sh install|deb|lintian CMAKE BUILD_DIR PATH...: installs the build into
# a throw-away root, or packs it with CPack, and checks that every PATH (relative to
# /usr) is there. The lintian mode checks the package instead: no error, and every
# warning left is one that README.md explains. Without the Debian tools: exit 77 (skipped).
set -eu
mode=$1 cmake=$2 build=$3
shift 3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
need() { command -v "$1" >/dev/null 2>&1 || { echo "$1 is not installed ($2)"; exit 77; }; }

if [ "$mode" = install ]; then
    DESTDIR="$stage/root" "$cmake" --install "$build" --prefix /usr >"$stage/log" 2>&1 || { cat "$stage/log"; exit 1; }
    (cd "$stage/root" && find . ! -type d) | sed 's|^\./|/|' | sort >"$stage/files"
    if command -v appstreamcli >/dev/null 2>&1; then
        # Checks the installed metainfo against its file name and its desktop entry.
        appstreamcli validate-tree --no-net "$stage/root" || exit 1
    fi
else
    need dpkg-deb dpkg-dev
    need dpkg-shlibdeps dpkg-dev
    [ "$mode" != lintian ] || need lintian lintian
    "$(dirname "$cmake")/cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$stage/out" >"$stage/log" 2>&1 ||
        { cat "$stage/log"; exit 1; }
    deb=$(ls "$stage"/out/*.deb)
    echo "packed $(basename "$deb")"
    if [ "$mode" = lintian ]; then
        status=0
        lintian --fail-on error --tag-display-limit 0 "$deb" >"$stage/report" 2>&1 || status=1
        grep -v '^N:' "$stage/report" || true
        readme="$(dirname "$0")/../../README.md"
        for tag in $(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$stage/report" | sort -u); do
            grep -q "$tag" "$readme" || { echo "warning $tag is not explained in README.md"; status=1; }
        done
        exit $status
    fi
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort >"$stage/files"
    for field in Package=essaimeur Section=utils; do
        [ "$(dpkg-deb -f "$deb" "${field%=*}")" = "${field#*=}" ] || { echo "$field expected"; exit 1; }
    done
    # dpkg-shlibdeps found the Qt libraries the program links; the fonts are declared.
    depends=$(dpkg-deb -f "$deb" Depends)
    case $depends in *fonts-liberation*) ;; *) echo "Depends lacks fonts-liberation: $depends"; exit 1 ;; esac
    if grep -qx /usr/bin/essaimeur "$stage/files"; then
        case $depends in *libqt6widgets6*) ;; *) echo "Depends lacks the Qt libraries: $depends"; exit 1 ;; esac
    fi
fi

missing=0
for path in "$@"; do
    grep -qx "/usr/$path" "$stage/files" || { echo "missing: /usr/$path"; missing=1; }
done
[ $missing = 0 ] || { echo "installed:"; cat "$stage/files"; }
exit $missing
