#!/bin/sh
# in-private-mounts.sh PROGRAM [ARGUMENT...]: runs a test in a private mount namespace
# when we are root, so that what the test mounts never reaches the machine's own mount
# table. Where / is not a mount point (a chroot), the namespace can only be made
# private mount by mount, and that is done only when the mount holding / is not shared
# with the host, since a mount made under a shared one would appear there too.
# Where no namespace can be given, the test runs as it is, without its mount cases,
# and "name: reason" is appended to the file named by ESSAIMEUR_SKIP_LOG.
case ${1##*/} in python* | with-udisks.sh) name=$2 ;; *) name=$1 ;; esac

# Succeeds unless the mount holding / is known not to be shared. It is listed in the
# mount table of the nearest parent process that is outside this root (the one that
# entered the chroot), when that process shares the namespace.
root_mount_may_be_shared() {
    pid=$$
    while pid=$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) && [ "${pid:-0}" -gt 0 ] &&
        [ "/proc/$pid/root" -ef / ]; do :; done
    [ "${pid:-0}" -gt 0 ] && [ -r "/proc/$pid/mountinfo" ] && ns=$(readlink /proc/self/ns/mnt) &&
        [ "$ns" = "$(readlink "/proc/$pid/ns/mnt")" ] && dev=$(stat -c %Hd:%Ld /) || return 0
    awk -v dev="$dev" '$3 == dev { found = 1; for (i = 7; i <= NF && $i != "-"; i++) if ($i ~ /^shared:/) shared = 1 }
                       END { exit (found && !shared) ? 1 : 0 }' "/proc/$pid/mountinfo"
}

if [ "$(id -u)" != 0 ]; then
    reason="not root"
elif mountpoint -q /; then
    reason=$(unshare -m --propagation private true 2>&1) &&
        exec unshare -m --propagation private env ESSAIMEUR_PRIVATE_MOUNTS=1 "$@"
elif root_mount_may_be_shared; then
    reason="/ is not a mount point and the mount holding it may be shared with the host (bind the root onto itself before entering it: mount --bind DIR DIR)"
else
    # Every mount visible here is made private inside the new namespace only.
    exec unshare -m --propagation unchanged sh -c 'awk "{ print \$5 }" /proc/self/mountinfo |
        xargs -n 1 mount --make-private && exec env ESSAIMEUR_PRIVATE_MOUNTS=1 "$@"' sh "$@"
fi
echo "in-private-mounts: no private mount namespace ($reason): the test runs without its mounts" >&2
[ -z "${ESSAIMEUR_SKIP_LOG:-}" ] || echo "$(basename "$name" .py): no private mount namespace: $reason" >>"$ESSAIMEUR_SKIP_LOG"
exec "$@"
