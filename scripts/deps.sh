# Sourced by the run and test commands: installs the Debian packages the project needs when missing.
TARVIO_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev
    sqlite3
    qt6-base-dev fonts-liberation xdg-utils
    xvfb xauth
)

tarvio_install_deps() {
    local missing=()
    local p
    for p in "${TARVIO_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        echo "tarvio: all needed Debian packages are installed"
        return 0
    fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "tarvio: installing Debian packages: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
