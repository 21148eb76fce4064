#!/bin/sh
# validate.sh desktop|metainfo FILE: runs the desktop-entry or AppStream validator
# on FILE, where a warning fails too; exits 77 (skipped) when the validator is missing.
set -u
case $1 in
desktop) tool=desktop-file-validate package=desktop-file-utils ;;
metainfo) tool=appstreamcli package=appstream ;;
*) echo "unknown kind: $1"; exit 2 ;;
esac
command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed ($package)"; exit 77; }
if [ "$1" = metainfo ]; then
    exec appstreamcli validate --no-net "$2"
fi
# desktop-file-validate exits 0 on warnings; a warning is a fault here too.
output=$(desktop-file-validate "$2" 2>&1)
status=$?
[ -z "$output" ] || { echo "$output"; exit 1; }
exit $status
