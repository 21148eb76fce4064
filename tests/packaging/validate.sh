#!/bin/sh
# validate.sh desktop|metainfo FILE: runs the desktop-entry or AppStream validator
# on FILE; exits 77 (skipped) when no validator is installed.
set -u
kind=$1
file=$2
have() { command -v "$1" >/dev/null 2>&1; }
case $kind in
desktop)
    have desktop-file-validate || { echo "desktop-file-validate is not installed (desktop-file-utils)"; exit 77; }
    output=$(desktop-file-validate "$file" 2>&1)
    status=$?
    # The tool exits 0 on warnings; a warning is a fault here too.
    [ -n "$output" ] && { echo "$output"; exit 1; }
    exit $status
    ;;
metainfo)
    if have appstreamcli; then
        exec appstreamcli validate --no-net "$file"
    elif have appstream-util; then
        exec appstream-util validate-relax --nonet "$file"
    fi
    echo "no AppStream validator is installed (appstream)"
    exit 77
    ;;
esac
echo "unknown kind: $kind"
exit 2
