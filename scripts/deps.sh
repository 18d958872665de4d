# Sourced by scripts/run and scripts/test: installs the Debian packages the
# build and the tests need, when they are missing. apt-get runs as root, with
# sudo only when the caller is not root.

FBX_PACKAGES=(
    build-essential cmake pkg-config
    libgtest-dev
    libinih-dev libpcre2-dev
    libmicrohttpd-dev nlohmann-json3-dev
    qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libqt6dbus6 libgl-dev
    libqscintilla2-qt6-dev
    fonts-arphic-uming
    socat minicom python3 python3-serial
    ser2net
    qemu-system-x86 busybox-static cpio
    xvfb xauth
    poppler-utils
    scdoc man-db dpkg-dev lintian systemd
    chromium chromium-driver python3-selenium
)

fbx_install_deps() {
    local missing=()
    local pkg
    for pkg in "${FBX_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# fbx_build DIR [cmake options...]: configures and builds into DIR.
fbx_build() {
    local dir=$1
    shift
    cmake -S "$FBX_ROOT" -B "$FBX_ROOT/$dir" "$@" >/dev/null
    cmake --build "$FBX_ROOT/$dir" -j "$(nproc)"
}
