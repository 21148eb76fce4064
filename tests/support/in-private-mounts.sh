#!/bin/sh
# in-private-mounts.sh PROGRAM [ARGUMENT...]: runs a test in a private mount namespace
# when we are root, so that what the test mounts never reaches the machine's own mount
# table. In a chroot, / must be a mount point for that (bind the chroot's folder onto
# itself before entering it). Where no namespace can be given, the test runs as it is,
# without its mount cases, and "name: reason" is appended to the file named by
# ESSAIMEUR_SKIP_LOG.
case ${1##*/} in python* | with-udisks.sh) name=$2 ;; *) name=$1 ;; esac

if [ "$(id -u)" != 0 ]; then
    reason="not root"
elif ! mountpoint -q /; then
    reason="/ is not a mount point (in a chroot, bind its folder onto itself before entering it: mount --bind DIR DIR)"
else
    reason=$(unshare -m --propagation private true 2>&1) &&
        exec unshare -m --propagation private env ESSAIMEUR_PRIVATE_MOUNTS=1 "$@"
fi
echo "in-private-mounts: no private mount namespace ($reason): the test runs without its mounts" >&2
[ -z "${ESSAIMEUR_SKIP_LOG:-}" ] || echo "$(basename "$name" .py): no private mount namespace: $reason" >>"$ESSAIMEUR_SKIP_LOG"
exec "$@"
