#!/usr/bin/env bash
# Builds EssaimeurMV on Debian 12, installing with apt-get whatever is missing.
#   build.sh run    builds and starts the program
#   build.sh test   builds and runs every test, then the unit and widget tests
#                   once more under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
jobs=2

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools
                qt6-svg-dev libmount-dev libblkid-dev fonts-liberation)
test_packages=(xvfb xauth xdotool imagemagick x11-utils e2fsprogs dosfstools mount util-linux
               desktop-file-utils appstream dpkg-dev file clang libclang-rt-14-dev
               dbus at-spi2-core python3 python3-pyatspi)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

case "$mode" in
run)
    install_missing "${build_packages[@]}"
    configure_and_build build
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: start the program from a desktop session (build/app/essaimeur)." >&2
        exit 1
    fi
    exec build/app/essaimeur
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure_and_build build
    ctest --test-dir build --output-on-failure -j "$jobs"

    # The same unit and widget tests, built with the sanitizers; any report fails the run.
    configure_and_build build-sanitize -DESSAIMEUR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -L 'unit|ui'
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
