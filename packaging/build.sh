#!/usr/bin/env bash
# Builds EssaimeurMV on Debian 12, installing with apt-get whatever is missing.
#   build.sh run    builds and starts the program
#   build.sh test   builds and runs every test, then the unit and widget tests
#                   once more under AddressSanitizer and UndefinedBehaviorSanitizer,
#                   then bounded libFuzzer runs of the parsers
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

    # Configures a tree and builds only the test programs of the CTest labels given.
    configure_tests() {
        local dir=$1 labels=$2
        shift 2
        cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
        local targets
        mapfile -t targets < <(ctest --test-dir "$dir" -N -L "$labels" | sed -n 's/^ *Test *#[0-9]*: //p')
        cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
    }

    # The same unit and widget tests, built with the sanitizers; any report fails the run.
    # Leaks count too: on the offscreen platform neither our code nor Qt and fontconfig
    # leave any, so a leak report is ours and needs no suppression list.
    sanitized='unit|ui'
    configure_tests build-sanitize "$sanitized" -DESSAIMEUR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:check_initialization_order=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -L "$sanitized"

    # Bounded libFuzzer runs of the parsers over their committed corpus, in a clang tree.
    CC=clang CXX=clang++ configure_tests build-fuzz fuzz -DESSAIMEUR_FUZZ=ON
    ctest --test-dir build-fuzz --output-on-failure -j "$jobs" -L fuzz
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
