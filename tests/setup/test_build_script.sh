#!/bin/sh
# packaging/build.sh as a new user meets it. Stub commands on PATH record what the
# script asks: id gives the user, dpkg-query reports cmake missing, sudo, apt-get and
# cmake only write their arguments to $LOG (sudo then runs the rest of its line).
source="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d) failed=0
trap 'rm -rf "$work"' EXIT
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$work/$1" && chmod +x "$work/$1"; }
stub dpkg-query 'case $* in *" cmake") echo "unknown ok not-installed" ;; *) echo "install ok installed" ;; esac'
stub sudo 'echo "sudo $*" >>"$LOG"; exec "$@"'
for tool in apt-get cmake; do stub $tool "echo \"$tool \$*\" >>\"\$LOG\""; done
export LOG="$work/log" PATH="$work:$PATH"
fail() { echo "FAIL: $*"; echo "--- output:"; cat "$work/out"; echo "--- calls:"; cat "$LOG"; failed=1; }
# build ENV-ASSIGNMENT... COMMAND...: a fresh $LOG, the output in $work/out.
build() { : >"$LOG"; env "$@" >"$work/out" 2>&1; }

# uid | the calls logged, without flags or variables (sudo's calls log twice: it runs them).
# The last row leaves id at a user.
for row in "0|apt-get update,apt-get install cmake," \
           "1000|sudo apt-get update,apt-get update,sudo env apt-get install cmake,apt-get install cmake,"; do
    uid=${row%%|*}
    stub id "echo $uid"
    build DISPLAY=:99 ESSAIMEUR_PACKAGES_ONLY=1 bash "$source/packaging/build.sh" run || fail "uid $uid: exit $?"
    grep -q "apt-get: cmake$" "$work/out" || fail "uid $uid: the missing package is not named"
    [ "$(sed 's/ -[^ ]*//g; s/ [A-Z_]*=[^ ]*//' "$LOG" | tr '\n' ,)" = "${row#*|}" ] || fail "uid $uid: not the calls ${row#*|}"
done

build -u DISPLAY -u WAYLAND_DISPLAY bash "$source/packaging/build.sh" run && fail "no display: exit 0"
grep -qi "no display" "$work/out" && [ ! -s "$LOG" ] || fail "no display: not said, or installed or built before stopping"

# A tree of three tests: one runs without its private namespace (not root, says id),
# one is skipped by CTest, one runs in full. The summary lists the first two only.
stub mounts_case '[ -z "${ESSAIMEUR_PRIVATE_MOUNTS:-}" ]'
cat >"$work/CTestTestfile.cmake" <<TREE
add_test(mounts_case "$source/tests/support/in-private-mounts.sh" "$work/mounts_case")
add_test(skipped_case sh -c "echo 'no X server &amp; <no> Xvfb'; exit 77")
set_tests_properties(skipped_case PROPERTIES SKIP_RETURN_CODE 77)
add_test(full_case true)
TREE
for ci in "" true; do
    build CI=$ci bash "$source/packaging/build.sh" ctest "$work"
    [ $? = $((${#ci} > 0)) ] && [ "$(sed -n '/^Tests skipped or run reduced:/,$ s/^  //p' "$work/out" | tr '\n' '|')" = \
        "mounts_case: no private mount namespace: not root|skipped_case: skipped: no X server &amp; <no> Xvfb|" ] ||
        fail "CI=$ci: not exit status 1 exactly under CI=true, or not the first two tests in the skip list"
done
exit $failed
