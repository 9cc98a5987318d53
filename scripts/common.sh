# Shared by scripts/test, scripts/demo, scripts/bench and scripts/package: install what is missing, build.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# dpkg-dev: dpkg-buildflags, which the build takes its hardening flags from.
PACKAGES=(cmake g++ ninja-build dpkg-dev qt6-base-dev qt6-serialport-dev libgl1-mesa-dev fonts-liberation fontconfig
          xvfb xauth)
# The checkers the package test (tests/package) runs on the .deb it builds; only the scripts that
# run that test or build the package install them (systemd for systemd-analyze, which checks the
# station's unit; no systemd needs to run).
PACKAGE_CHECKERS=(lintian appstream desktop-file-utils systemd)
case "$(basename "$0")" in
test | package) PACKAGES+=("${PACKAGE_CHECKERS[@]}") ;;
esac
# A real serial device server (raw TCP and RFC 2217) in front of the module simulator, for the
# end-to-end tests and the figures over the network.
case "$(basename "$0")" in
test | bench) PACKAGES+=(ser2net) ;;
esac

install_missing() {
    local missing=()
    local p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

# build <build-dir> <build-type> [target...]
build() {
    local dir="$1" type="$2"
    shift 2
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}
