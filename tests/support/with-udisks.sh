#!/bin/sh
# with-udisks.sh COMMAND...: runs a test beside a real disk service of its own, udevd, a system
# bus and udisksd, in the private mount namespace that in-private-mounts.sh gives it. Their
# state lies on tmpfs, /dev/disk and /dev/block too: /dev is the host's, and the links udevd
# makes there would outlive the test and mislead other tests. Loop devices labelled AUTO* are
# for automatic mounting, AUTOIGN to be ignored. Outside such a namespace the test runs as it
# is, and says that it cannot.
[ -n "$ESSAIMEUR_PRIVATE_MOUNTS" ] || exec "$@"
set -e
log=$(mktemp)
# The test's images go there: what it leaves attached is found by them.
export TMPDIR=$(mktemp -d)
pids= made= dirs="/run/udev /run/dbus /run/udisks2 /var/lib/udisks2 /media /dev/disk /dev/block"

# Stops what was started, by process id, and takes back what was made, whatever the end.
stop() {
    status=$?
    set +e
    kill $pids
    wait
    losetup -nO NAME,BACK-FILE | awk -v d="$TMPDIR/" 'index($2, d) == 1 { print $1 }' | xargs -r losetup -d
    umount -l $dirs
    [ -z "$made" ] || rmdir $made
    # udisksd's "Error inhibiting" lines are harmless.
    [ $status = 0 ] || cat "$log" >&2
    rm -rf "$log" "$TMPDIR"
    exit $status
}
trap stop EXIT
trap 'exit 1' INT TERM HUP

# Waits up to ten seconds for a command to succeed.
answers() {
    for try in $(seq 100); do
        ! "$@" 2>/dev/null || return 0
        sleep 0.1
    done
    echo "with-udisks: no answer to $*" >&2
    exit 1
}

for dir in $dirs; do
    [ -d $dir ] || { mkdir $dir && made="$made $dir"; }
    mount -t tmpfs tmpfs $dir
done
mkdir /run/udev/rules.d
cat >/run/udev/rules.d/99-test.rules <<'EOF'
KERNEL=="loop*", ENV{ID_FS_LABEL}=="AUTO*", ENV{UDISKS_AUTO}="1", ENV{UDISKS_SYSTEM}="0"
KERNEL=="loop*", ENV{ID_FS_LABEL}=="AUTOIGN", ENV{UDISKS_IGNORE}="1"
EOF
/lib/systemd/systemd-udevd >>"$log" 2>&1 &
pids=$!
answers udevadm control --ping
pids="$pids $(dbus-daemon --system --fork --print-pid)"
/usr/libexec/udisks2/udisksd >>"$log" 2>&1 &
pids="$pids $!"
answers grep -q "Acquired the name" "$log"
"$@"
