# Shared by run.sh and test.sh: installs the Debian packages that are missing
# and builds into build/. Sourced, not run.
set -euo pipefail

QUORVIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUORVIX_BUILD=${QUORVIX_BUILD:-$QUORVIX_ROOT/build}

quorvix_packages=(
    build-essential cmake
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev
    libqt6svg6 qt6-qpa-plugins qt6-translations-l10n
    fonts-noto-cjk
)

quorvix_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

quorvix_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    quorvix_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    quorvix_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures once, then builds incrementally.
quorvix_build() {
    local dir=$1; shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$QUORVIX_ROOT" -B "$dir" "$@"
    fi
    cmake --build "$dir" --parallel "$(nproc)"
}

quorvix_runtime_dir() {
    if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
        export XDG_RUNTIME_DIR=/tmp/quorvix-runtime-$(id -u)
    fi
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 0700 "$XDG_RUNTIME_DIR"
}

quorvix_install_packages "${quorvix_packages[@]}"
quorvix_runtime_dir
