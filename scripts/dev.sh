#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tollavar, builds it, and runs the example or the tests.
#   scripts/dev.sh example   convert the bundled example batch unattended
#   scripts/dev.sh test      run every test, then again built with the sanitizers
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(g++ cmake ninja-build pkg-config libxml2-dev qt6-base-dev libgl-dev libgtest-dev libgmock-dev
          libbenchmark-dev clang libclang-rt-14-dev xvfb xauth)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# build DIR [cmake options...]: configures once, then builds what changed.
build() {
    local dir=$1; shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    fi
    cmake --build "$dir" -- -j"$(nproc)" | grep -v '^\[' || true
    test "${PIPESTATUS[0]}" -eq 0
}

case "${1:-}" in
example)
    install_missing
    build build
    exec bash scripts/run-example.sh build
    ;;
test)
    install_missing
    build build
    ctest --test-dir build --output-on-failure -j"$(nproc)"
    echo "The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer:"
    build build-asan -DTOLLAVAR_SANITIZE=ON -DTOLLAVAR_BENCH=OFF
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 example|test" >&2
    exit 2
    ;;
esac
