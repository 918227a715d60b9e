#!/usr/bin/env bash
# Sets up, builds and runs Vellupix on Debian 12.
#   ./dev.sh run          install what is missing, build, start the viewer
#   ./dev.sh test         install what is missing, build, run every test
#                         (also built with AddressSanitizer and UBSan, all
#                         but the packaging checks)
#   ./dev.sh bench        install what is missing (and feh with Xvfb, the
#                         peer it is compared with), build, run the benchmark
set -euo pipefail
cd "$(dirname "$0")"

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-image-formats-plugins qt6-qpa-plugins
    libgl-dev zlib1g-dev
    libjpeg62-turbo-dev         # one JPEG decoded on every core
    libx11-dev                  # the benchmark looks at an X screen for the cold-open rows
    fonts-wqy-microhei          # the Chinese dialog texts need real glyphs
    desktop-file-utils appstream # the tests validate the desktop entry and metainfo
    dpkg-dev file lintian       # the package test reads the .deb and judges it
    libheif-dev libavif-dev libjxl-dev libraw-dev liblcms2-dev libxcb1-dev # HEIF, AVIF, JPEG XL, raw, colour profiles, monitor profile
    libqt6svg6                  # Qt's SVG image plugin
    libheif-examples libavif-bin libjxl-tools imagemagick icc-profiles-free # the format tests make their files
    libgs-common                # a printer's CMYK profile, for the colour tests
    libraw-bin                  # dcraw_emu: libraw's own rendering, that of raw files is compared with
    libseccomp-dev              # decoders confine themselves with a system call filter
    libfontconfig-dev           # the viewer has fontconfig read its configuration while Qt starts
)
install_missing() {
    local missing=()
    [ "${1:-}" = bench ] && packages+=(feh nsxiv xvfb)
    [ "${1:-}" = test ] && packages+=(xvfb) # one test starts the viewer under a real X server
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() { # dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}

command=${1:-run}
[ $# -gt 0 ] && shift
case "$command" in
    run)
        install_missing
        build build
        exec build/vellupix
        ;;
    test)
        install_missing test
        build build
        (cd build && ctest --output-on-failure --timeout 120)
        build build-sanitize -DVELLUPIX_SANITIZE=ON
        # The package is made from the plain build; a sanitized one is never shipped.
        (cd build-sanitize &&
            ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
            ctest --output-on-failure --timeout 120 --label-exclude packaging)
        ;;
    bench)
        install_missing bench
        build build
        exec build/bench/vellupix_bench "$@"
        ;;
    *)
        echo "usage: $0 run | test | bench [--quick]" >&2
        exit 2
        ;;
esac
