# Shared by ./test and ./demo: install the Debian packages the project needs (only when missing)
# and configure and build a CMake preset.
set -euo pipefail

QUENLOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

QUENLOR_PACKAGES=(cmake ninja-build g++ libgtest-dev pkg-config libhidapi-dev libcli11-dev nlohmann-json3-dev
                  libsystemd-dev dbus-daemon python3-dbusmock
                  dpkg-dev lintian help2man
                  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
                  wine wine64 fonts-wine xvfb imagemagick locales
                  osslsigncode openssl
                  emscripten nodejs node-acorn chromium)

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

# The page's tools beyond Debian's packages: npm (part of some nodejs builds, a package of its own
# in Debian's) and the browser tests' driver, pinned in tests/web/package-lock.json. Offline, an
# earlier install is used as it is.
ensure_web_tests() {
    if ! command -v npm >/dev/null; then
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends npm >/dev/null
    fi
    local web=$QUENLOR_ROOT/tests/web
    # npm ci only when the driver there is not the locked one.
    if ! (cd "$web" && node -e '
            const locked = require("./package-lock.json").packages["node_modules/puppeteer-core"].version;
            process.exit(require("./node_modules/puppeteer-core/package.json").version === locked ? 0 : 1);' 2>/dev/null); then
        (cd "$web" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error) ||
            [ -d "$web/node_modules/puppeteer-core" ] ||
            { echo "ensure_web_tests: npm ci failed and no earlier install is there" >&2; return 1; }
    fi
}

# The lane on a real kernel: QEMU, the guest's initramfs tools, udev for the guest's udevd, and the
# kernel that linux-image-amd64 depends on now, downloaded by its exact name and unpacked into
# build/kernel (never installed). Prints the unpacked kernel's version.
QUENLOR_KERNEL_PACKAGES=(qemu-system-x86 busybox-static cpio kmod udev)

ensure_kernel() {
    local missing=() p
    for p in "${QUENLOR_KERNEL_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing ${missing[*]}" >&2
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
    local dir=$QUENLOR_ROOT/build/kernel image
    image=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
    [ -n "$image" ] || { echo "ensure_kernel: linux-image-amd64 names no kernel" >&2; return 1; }
    local version=${image#linux-image-}
    if [ ! -f "$dir/root/boot/vmlinuz-$version" ]; then
        mkdir -p "$dir/download"
        (cd "$dir/download" && rm -f ./*.deb && apt-get download -qq "$image") >&2
        rm -rf "$dir/root"
        dpkg-deb -x "$dir/download/${image}"_*.deb "$dir/root"
        depmod -b "$dir/root" "$version"
        rm -f "$dir/download/${image}"_*.deb
    fi
    echo "$version"
}

# Emscripten's JavaScript optimiser runs under the machine's Node, which finds Debian's acorn only here.
export NODE_PATH=/usr/share/nodejs
