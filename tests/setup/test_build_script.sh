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

# A user: the missing package named, installed through sudo (its calls log twice: it runs them).
stub id "echo 1000"
build DISPLAY=:99 ESSAIMEUR_PACKAGES_ONLY=1 bash "$source/packaging/build.sh" run || fail "exit $?"
grep -q "apt-get: cmake$" "$work/out" || fail "the missing package is not named"
grep -qx "Installed: done" "$work/out" || fail "the installation does not say it is done"
grep -q "^sudo env .*apt-get install .*cmake$" "$LOG" || fail "cmake is not installed through sudo"

stub apt-get 'echo "E: no network"; exit 100'
build DISPLAY=:99 ESSAIMEUR_PACKAGES_ONLY=1 bash "$source/packaging/build.sh" run && fail "apt failing: exit 0"
log=$(sed -n 's/^apt-get failed; its output is in //p' "$work/out")
grep -q "E: no network" "$log" || fail "apt failing: its output is not in the log named"
rm -f "$log"

# A tree of three tests: one runs without its private namespace (not root, says id),
# one is skipped by CTest, one runs in full. The summary lists the first two only.
stub mounts_case '[ -z "${ESSAIMEUR_PRIVATE_MOUNTS:-}" ]'
cat >"$work/CTestTestfile.cmake" <<TREE
add_test(mounts_case "$source/tests/support/in-private-mounts.sh" "$work/mounts_case")
add_test(skipped_case sh -c "echo 'no X server &amp; <no> Xvfb'; exit 77")
set_tests_properties(skipped_case PROPERTIES SKIP_RETURN_CODE 77)
add_test(full_case true)
TREE
skips="mounts_case: no private mount namespace: not root|skipped_case: skipped: no X server &amp; <no> Xvfb|"
for row in "|0|Skips are listed at the end (CI=true makes them fail the run)" "true|1|CI: skips fail the run"; do
    ci=${row%%|*} status=$(echo "$row" | cut -d'|' -f2) first=${row##*|}
    build CI=$ci bash "$source/packaging/build.sh" ctest "$work"
    [ $? = "$status" ] || fail "CI=$ci: not exit status $status"
    [ "$(head -n 1 "$work/out")" = "$first" ] || fail "CI=$ci: the first line is not \"$first\""
    [ "$(sed -n '/^Tests skipped or run reduced:/,$ s/^  //p' "$work/out" | tr '\n' '|')" = "$skips" ] ||
        fail "CI=$ci: not the first two tests in the skip list"
done
exit $failed
