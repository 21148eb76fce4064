#!/bin/sh
# packaging/build.sh as a new user meets it. Stub commands on PATH record what the
# script asks: id gives the user, dpkg-query reports cmake missing, sudo and apt-get
# only write their arguments to $LOG.
set -u
source="$(cd "$(dirname "$0")/../.." && pwd)"
build_sh=$source/packaging/build.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/stubs"
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$work/stubs/$1" && chmod +x "$work/stubs/$1"; }
stub dpkg-query 'case $* in *" cmake") echo "unknown ok not-installed" ;; *) echo "install ok installed" ;; esac'
stub sudo 'echo "sudo $*" >>"$LOG"; exec "$@"'
stub apt-get 'echo "apt-get $*" >>"$LOG"'
stub cmake 'echo "cmake $*" >>"$LOG"'
export LOG="$work/log" PATH="$work/stubs:$PATH"
failed=0
fail() { echo "FAIL: $*"; echo "--- calls:"; cat "$LOG" 2>/dev/null; failed=1; }

# uid | how the packages are installed
for row in "1000 sudo" "0 apt-get"; do
    set -- $row
    stub id "echo $1"
    : >"$LOG"
    DISPLAY=:99 ESSAIMEUR_PACKAGES_ONLY=1 bash "$build_sh" run >"$work/out" 2>&1 || fail "uid $1: exit $?"
    grep -q "apt-get: cmake$" "$work/out" || fail "uid $1: the missing package is not named"
    [ "$(grep -c "^$2.*install .* cmake$" "$LOG")" = 1 ] || fail "uid $1: not one install of cmake through $2"
    grep -q "^$2.*update" "$LOG" || fail "uid $1: no index update through $2"
    [ "$(grep -c '^sudo' "$LOG")" = "$([ "$1" = 0 ] && echo 0 || echo 2)" ] || fail "uid $1: sudo used wrongly"
    ! grep -q '^cmake' "$LOG" || fail "uid $1: built past the package step"
done

stub id 'echo 1000'
: >"$LOG"
env -u DISPLAY -u WAYLAND_DISPLAY bash "$build_sh" run >"$work/out" 2>&1 && fail "no display: exit 0"
grep -qi "no display" "$work/out" || fail "no display: not said"
[ ! -s "$LOG" ] || fail "no display: installed or built before stopping"

# A tree of three tests: one runs without its private namespace (not root), one is
# skipped by CTest, one runs in full. The summary names the first two only.
mkdir "$work/tree"
printf '#!/bin/sh\n[ -z "${ESSAIMEUR_PRIVATE_MOUNTS:-}" ]\n' >"$work/mounts_case" && chmod +x "$work/mounts_case"
cat >"$work/tree/CTestTestfile.cmake" <<TREE
add_test(mounts_case "$source/tests/support/in-private-mounts.sh" "$work/mounts_case")
add_test(skipped_case sh -c "echo 'no X server &amp; <no> Xvfb'; exit 77")
set_tests_properties(skipped_case PROPERTIES SKIP_RETURN_CODE 77)
add_test(full_case true)
TREE
for ci in "" true; do
    CI=$ci bash "$build_sh" ctest "$work/tree" >"$work/out" 2>&1
    status=$?
    grep -q "^  mounts_case: no private mount namespace: not root$" "$work/out" || fail "CI=$ci: reduced test not listed"
    grep -q "^  skipped_case: skipped: no X server &amp; <no> Xvfb$" "$work/out" || fail "CI=$ci: skipped test not listed"
    ! grep -q "full_case:" "$work/out" || fail "CI=$ci: a full test listed"
    [ "$status" = "$([ "$ci" = true ] && echo 1 || echo 0)" ] || fail "CI=$ci: exit $status"
done
[ $failed = 1 ] && cat "$work/out"
exit $failed
