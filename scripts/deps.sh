# Sourced by the scripts: installs the Debian packages the project needs.
# The formatter is pinned: another version formats the same file otherwise.
VARNHOLT_CLANG_FORMAT=clang-format-14
VARNHOLT_PACKAGES=(cmake ninja-build g++ clang pkg-config googletest libgtest-dev libgmock-dev
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libinih-dev libgl-dev
    libclang-rt-14-dev libx11-dev xvfb xauth xdotool x11-utils imagemagick python3
    fontconfig fonts-dejavu-core libspdlog-dev dpkg-dev fakeroot lintian desktop-file-utils
    appstream file libboost-math-dev python3-pandas libmosquitto-dev mosquitto
    mosquitto-clients openssl nlohmann-json3-dev libpng-dev chromium prometheus poppler-utils
    "$VARNHOLT_CLANG_FORMAT")

varnholt_install_deps() {
    local missing=()
    for p in "${VARNHOLT_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [[ $(id -u) -eq 0 ]] || sudo="sudo"
        $sudo apt-get -o DPkg::Lock::Timeout=300 update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends \
            "${missing[@]}"
    fi
}
