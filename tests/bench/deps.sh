# Sourced: installs the Debian packages the build and the bench need,
# asking apt only when one of them is missing. A caller that needs more
# (the benchmark's curl) names them as arguments.
# wine64 alone has neither `wine` nor `wineboot`: those come with `wine`.
# dpkg-dev unpacks libarchive's source package for Windows' own tar
# (tests/bench/bsdtar.sh), with xz-utils and patch; a minimal root lacks it.
pivra_packages="cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
 mingw-w64-x86-64-dev libz-mingw-w64-dev googletest wine64 wine xvfb xauth iproute2 util-linux openssl python3
 python3-pefile liblnk-utils imagemagick clang lld llvm-14 clang-tidy clang-format
 g++ osslsigncode libclang-rt-14-dev dpkg-dev xz-utils"

pivra_install_deps() {  # [extra package...]
    missing=""
    for package in $pivra_packages "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages:$missing (run as root to install them)" >&2
        return 1
    fi
    echo "installing:$missing"
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}
