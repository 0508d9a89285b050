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

# Emscripten's JavaScript optimiser runs under the machine's Node, which finds Debian's acorn only here.
export NODE_PATH=/usr/share/nodejs
