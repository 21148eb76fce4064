#!/usr/bin/env bash
# Builds EssaimeurMV on Debian 12 as a normal user. Missing packages are named, then
# installed in one go with `sudo apt-get` (plain apt-get when already root); apt's own
# output goes to a log file, named when it fails.
#   build.sh run               builds the program alone and starts it (needs a display)
#   build.sh test              builds everything and runs every test, then the unit and widget
#                              tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
#                              and the copy engine's under ThreadSanitizer
#   build.sh ctest DIR [ARG…]  runs the tests of a tree already built (ARG: CTest's options)
# The test modes say first whether a skipped test fails the run, and end by listing,
# one line each with its reason, every test that was skipped or ran reduced (no root,
# no private mount namespace, a missing tool); with CI=true any such test fails the
# command. sudo clears the environment: `sudo CI=true bash packaging/build.sh test`.
# ESSAIMEUR_PACKAGES_ONLY=1 stops after the package step.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
jobs=2

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools
                qt6-svg-dev libmount-dev libblkid-dev fonts-liberation)
test_packages=(xvfb xauth xdotool imagemagick x11-utils e2fsprogs dosfstools mount util-linux
               exfatprogs exfat-fuse fusefat desktop-file-utils appstream dpkg-dev file lintian
               dbus udev udisks2 python3)

install_missing() {
    local missing=() package sudo=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        if [ "$(id -u)" != 0 ]; then
            command -v sudo >/dev/null || {
                echo "Missing packages: ${missing[*]}. Install them as root: apt-get install ${missing[*]}" >&2
                exit 1
            }
            sudo=(sudo)
        fi
        local log
        log=$(mktemp -t essaimeur-apt.XXXXXX)
        echo "Installing with ${sudo[*]:+sudo }apt-get: ${missing[*]}"
        if ! { "${sudo[@]}" apt-get update -q &&
               "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
                   apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
            echo "apt-get failed; its output is in $log" >&2
            exit 1
        fi
        rm -f "$log"
        echo "Installed: done"
    fi
    if [ "${ESSAIMEUR_PACKAGES_ONLY:-}" = 1 ]; then exit 0; fi
}

configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

# Configures a tree and builds only the test programs of the CTest labels given.
configure_tests() {
    local dir=$1 labels=$2 targets
    shift 2
    configure "$dir" "$@"
    mapfile -t targets < <(ctest --test-dir "$dir" -N -L "$labels" | sed -n 's/^ *Test *#[0-9]*: //p')
    cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
}

# Tests append "name: reason" to $ESSAIMEUR_SKIP_LOG when they run reduced for want of
# something (QtTest's own skips are not counted: some cases are left to another test).
# CTest's skips (exit code 77) are added from its JUnit report, with the test's last
# output line. The list is printed when the script ends, however it ends.
start_skip_log() {
    if [ "${CI:-}" = true ]; then
        echo "CI: skips fail the run"
    else
        echo "Skips are listed at the end (CI=true makes them fail the run)"
    fi
    # The test tools (mkfs.*, losetup, mount) live there, off a normal user's PATH.
    export PATH="$PATH:/usr/sbin:/sbin"
    skip_log=$(mktemp)
    export ESSAIMEUR_SKIP_LOG=$skip_log
    trap report_skips EXIT
}

run_ctest() {
    local dir=$1 status=0 junit
    shift
    junit="$(cd "$dir" && pwd)/ctest-report.xml"
    rm -f "$junit"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$junit" "$@" || status=$?
    [ -f "$junit" ] && awk '
        function text(s) { gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s); gsub(/&amp;/, "\\&", s); return s }
        FILENAME == ARGV[1] { sub(/: .*/, ""); logged[$0] = 1; next }
        /<testcase / { name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
                       notrun = /status="notrun"/; last = ""; inside = 0 }
        /<system-out>/ { inside = 1; sub(/.*<system-out>/, "") }
        inside { closing = sub(/<\/system-out>.*/, "")
                 if ($0 ~ /[^ \t]/) last = $0
                 if (closing) inside = 0 }
        /<\/testcase>/ && notrun && !logged[name] { print name ": skipped: " (last == "" ? "no output" : text(last)) }
    ' "$skip_log" "$junit" >>"$skip_log"
    return $status
}

report_skips() {
    local status=$?
    if [ -s "$skip_log" ]; then
        echo
        echo "Tests skipped or run reduced:"
        awk '!seen[$0]++ { print "  " $0 }' "$skip_log"
        if [ "${CI:-}" = true ]; then
            echo "CI=true: every test must run in full (as root, where / is a mount point)."
            [ $status != 0 ] || status=1
        fi
    fi
    rm -f "$skip_log"
    # Under sudo, the trees go back to the user, whose next build would otherwise fail.
    if [ -n "${SUDO_UID:-}" ]; then
        for dir in build build-sanitize build-thread; do
            [ ! -d "$dir" ] || chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$dir"
        done
    fi
    exit $status
}

case "$mode" in
run)
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: run this from a terminal of your desktop session (or over ssh -X)." >&2
        echo "Without a display, 'bash packaging/build.sh test' builds and tests everything." >&2
        exit 1
    fi
    if [ "$(id -u)" = 0 ]; then
        echo "Note: you are root. On a desktop, run this as yourself: packages are installed with sudo." >&2
    fi
    install_missing "${build_packages[@]}"
    configure build
    cmake --build build -j "$jobs" --target essaimeur
    exec build/app/essaimeur
    ;;
test)
    start_skip_log
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure build
    cmake --build build -j "$jobs"
    run_ctest build

    # The same unit and widget tests, built with the sanitizers; any report fails the run.
    # Leaks count too: on the offscreen platform neither our code nor Qt and fontconfig
    # leave any, so a leak report is ours and needs no suppression list.
    sanitized='unit|ui'
    configure_tests build-sanitize "$sanitized" -DESSAIMEUR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:check_initialization_order=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_ctest build-sanitize -L "$sanitized"

    # The copy run's threads under ThreadSanitizer: its engine and tests need the
    # platform layer alone, so no uninstrumented widget code hides what they do.
    configure_tests build-thread engine -DESSAIMEUR_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-thread -L engine

    ;;
ctest)
    [ $# -ge 2 ] || { echo "usage: $0 ctest DIR [CTEST-OPTION...]" >&2; exit 2; }
    start_skip_log
    shift
    run_ctest "$@"
    ;;
*)
    echo "usage: $0 run|test|ctest DIR" >&2
    exit 2
    ;;
esac
