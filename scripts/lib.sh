# Shared by ./test and ./demo: install the Debian packages the project needs (only when missing)
# and configure and build a CMake preset.
set -euo pipefail

QUENLOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

QUENLOR_PACKAGES=(cmake ninja-build g++ libgtest-dev pkg-config libhidapi-dev libcli11-dev nlohmann-json3-dev
                  libsystemd-dev dbus-daemon python3-dbusmock
                  dpkg-dev lintian help2man
                  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
                  wine wine64 fonts-wine xvfb imagemagick locales
                  osslsigncode openssl)

ensure_packages() {
    local missing=() p
    for p in "${QUENLOR_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}" >&2
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_preset() {
    local preset=$1
    cmake --preset "$preset" -S "$QUENLOR_ROOT" >/dev/null
    cmake --build --preset "$preset"
}
