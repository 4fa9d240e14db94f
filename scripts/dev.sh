#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tollavar, builds it, and runs the example or the tests.
#   scripts/dev.sh example   convert the bundled example batch unattended
#   scripts/dev.sh test      check the format, build warning-free with gcc and clang, check the names, run
#                            every test, again
#                            built with the sanitizers, fuzz each target for a minute, then check the package
#   scripts/dev.sh format    format every C++ file the format check looks at
#   scripts/dev.sh package   build the Debian package build/tollavar_VERSION_ARCH.deb and check it
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(g++ cmake ninja-build pkg-config libxml2-dev qt6-base-dev libgl-dev libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev libsystemd-dev libxxhash-dev prometheus-cpp-dev prometheus
          clang clang-format-14 clang-tidy-14
          libclang-rt-14-dev xvfb xauth openbox x11-utils
          dpkg-dev file desktop-file-utils appstream)

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

# build DIR [cmake options...]: configures (the options apply to a build folder made earlier too), then
# builds what changed.
build() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    # The build's own status, whatever grep finds to print: with pipefail, `|| true` after the whole
    # pipeline would have hidden a failed build.
    cmake --build "$dir" -- -j"$(nproc)" | { grep -v '^\[' || true; }
}

# The C++ files the format check covers.
formatted_files() {
    (cd "$root" && find src tests bench fuzz docs -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
}

# Fails on any file that clang-format would change; `scripts/dev.sh format` changes them.
check_format() {
    local differ=()
    local f
    while read -r f; do
        clang-format-14 --dry-run --Werror "$f" 2>/dev/null || differ+=("$f")
    done < <(formatted_files)
    if [ ${#differ[@]} -gt 0 ]; then
        echo "Not in the formatter's layout (run: bash scripts/dev.sh format):" >&2
        printf '  %s\n' "${differ[@]}" >&2
        return 1
    fi
    echo "Format check passed: $(formatted_files | wc -l) files"
}

# Fails on any name clang-tidy's naming check reports (the rule in docs/HACKING.md, configured in
# .clang-tidy) in a source file of ours that BUILD_DIR compiles, or in a header of ours it includes.
check_names() {
    local dir=$1 log
    log=$(mktemp)
    trap 'rm -f "$log"' RETURN
    local started=$SECONDS
    if ! run-clang-tidy-14 -p "$dir" -quiet -j"$(nproc)" "^$root/(src|tests|bench|fuzz)/" >"$log" 2>&1 ||
        grep -qE "(warning|error):" "$log"; then
        sed "s/\x1b\[[0-9;]*m//g" "$log" | grep -E "(warning|error):" | sort -u >&2 || cat "$log" >&2
        echo "Names against the naming rule (docs/HACKING.md; scripts/rename-identifiers.py renames)" >&2
        return 1
    fi
    echo "Naming check passed: $(grep -c '^clang-tidy-14 ' "$log") files in $((SECONDS - started)) s"
}

# The package installs under /usr, so the program must look for its manual there.
configure_for_package() {
    cmake -S "$root" -B build -G Ninja -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
}

# Builds the .deb, unpacks it into a scratch folder and checks what a desktop and a user would see.
package_and_check() {
    configure_for_package
    build build
    (cd build && cpack -G DEB >/dev/null)
    local version deb scratch
    version=$(sed -n 's/^project(Tollavar VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    deb="build/tollavar_${version}_$(dpkg --print-architecture).deb"
    [ -f "$deb" ] || { echo "missing $deb" >&2; return 1; }
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' RETURN
    dpkg-deb -x "$deb" "$scratch"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Package: $deb"
    echo "Depends: $depends"
    case "$depends" in
    *libqt6widgets6*libxml2* | *libxml2*libqt6widgets6*) ;;
    *) echo "the package's dependencies miss Qt or libxml2" >&2; return 1 ;;
    esac
    case "$depends" in
    *libsystemd0*) ;;
    *) echo "the package's dependencies miss libsystemd0" >&2; return 1 ;;
    esac
    local f
    for f in usr/bin/tollavar usr/share/doc/tollavar/TLManual.pdf usr/share/man/man1/tollavar.1.gz \
             usr/share/doc/tollavar/copyright \
             usr/share/applications/tollavar.desktop usr/share/metainfo/org.example.tollavar.metainfo.xml \
             usr/share/mime/packages/tollavar.xml usr/share/icons/hicolor/scalable/apps/tollavar.svg \
             usr/share/icons/hicolor/48x48/apps/tollavar.png usr/share/icons/hicolor/256x256/apps/tollavar.png \
             usr/share/doc/tollavar/examples/tollavar-convert@.service \
             usr/share/doc/tollavar/examples/tollavar-convert@.timer \
             usr/share/doc/tollavar/examples/batch/example.tvr usr/share/doc/tollavar/examples/batch/batch.csv; do
        [ -s "$scratch/$f" ] || { echo "the package lacks /$f" >&2; return 1; }
    done
    file "$scratch/usr/share/icons/hicolor/48x48/apps/tollavar.png" | grep -q "48 x 48" ||
        { echo "the 48x48 icon is not a 48 by 48 PNG" >&2; return 1; }
    desktop-file-validate "$scratch/usr/share/applications/tollavar.desktop"
    appstreamcli validate --no-net "$scratch/usr/share/metainfo/org.example.tollavar.metainfo.xml" >/dev/null
    # The metadata is found by its component id, which the file's name must repeat.
    grep -q "<id>org.example.tollavar</id>" "$scratch/usr/share/metainfo/org.example.tollavar.metainfo.xml" ||
        { echo "the metainfo file is not named after its component id" >&2; return 1; }
    gzip -t "$scratch/usr/share/man/man1/tollavar.1.gz" || { echo "the man page is not gzip-compressed" >&2; return 1; }
    grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
        "$scratch/usr/share/doc/tollavar/copyright" || { echo "the copyright file has no format line" >&2; return 1; }
    # The example works where it is copied to: no placeholder left in its configuration.
    if grep -q "@DIR@" "$scratch/usr/share/doc/tollavar/examples/batch/example.tvr"; then
        echo "the example configuration still holds placeholders" >&2; return 1
    fi
    local shown
    shown=$(env -u DISPLAY -u WAYLAND_DISPLAY "$scratch/usr/bin/tollavar" --version)
    [ "$shown" = "Tollavar $version" ] || { echo "--version printed: $shown" >&2; return 1; }
    echo "Package check passed: desktop entry, metainfo and $shown"
}

case "${1:-}" in
example)
    install_missing
    build build
    exec bash scripts/run-example.sh build
    ;;
test)
    install_missing
    check_format
    build build -DCMAKE_INSTALL_PREFIX=/usr -DTOLLAVAR_WERROR=ON
    check_names build
    ctest --test-dir build --output-on-failure -j"$(nproc)"
    echo "Everything built with clang, warnings as errors, and the fast tests:"
    build build-clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DTOLLAVAR_WERROR=ON \
        -DTOLLAVAR_BENCH=OFF
    ctest --test-dir build-clang --output-on-failure -j"$(nproc)" -L fast
    echo "The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer:"
    build build-asan -DTOLLAVAR_SANITIZE=ON -DTOLLAVAR_BENCH=OFF -DTOLLAVAR_WERROR=ON
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    echo "Each fuzz target for ${FUZZ_SECONDS:-60} seconds:"
    FUZZ_MERGE=0 bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
    echo "The Debian package:"
    package_and_check
    ;;
format)
    formatted_files | (cd "$root" && xargs clang-format-14 -i)
    ;;
package)
    install_missing
    package_and_check
    ;;
*)
    echo "usage: $0 example|test|package|format" >&2
    exit 2
    ;;
esac
