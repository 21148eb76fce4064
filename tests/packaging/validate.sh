#!/bin/sh
# validate.sh desktop|metainfo FILE: runs the desktop-entry or AppStream validator
# on FILE, where a warning fails too; exits 77 (skipped) when the validator is missing.
case $1 in desktop) tool=desktop-file-validate ;; metainfo) tool=appstreamcli ;; *) echo "unknown kind: $1"; exit 2 ;; esac
command -v $tool >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
[ "$1" = desktop ] || exec appstreamcli validate --no-net "$2"
# desktop-file-validate exits 0 on warnings; a warning is a fault here too.
output=$(desktop-file-validate "$2" 2>&1) && [ -z "$output" ] || { echo "$output"; exit 1; }
