#!/bin/bash
# Builds the tar.exe Windows ships (libarchive's bsdtar) from Debian's
# libarchive source package, once per build tree: the bench puts it at the
# prefix's system32\tar.exe. Kept in <build dir>/bsdtar/bsdtar.exe; a later
# run finds it there and does nothing.
# Usage: bsdtar.sh <build dir> [<another build dir whose bsdtar.exe to reuse>]
# Needs the network (Debian's archive): run it before the bench's private
# network namespace.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
out="$build/bsdtar"
[ -f "$out/bsdtar.exe" ] && exit 0
mkdir -p "$out"
if [ -n "${2:-}" ] && [ -f "$2/bsdtar/bsdtar.exe" ]; then
    cp "$2/bsdtar/bsdtar.exe" "$2/bsdtar/version.txt" "$out/"
    exit 0
fi
started=$(date +%s)
work="$out/work"
rm -rf "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/sources.list.d" "$work/src"

# deb-src twins of the machine's own apt sources (deb822 .sources files and
# one-line .list files alike), in an apt state of our own: the machine's apt
# configuration and lists stay as they are.
shopt -s nullglob
for file in /etc/apt/sources.list.d/*.sources; do
    sed 's/^Types:.*/Types: deb-src/' "$file" >"$work/apt/sources.list.d/$(basename "$file")"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    if [ -f "$file" ]; then
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" >"$work/apt/sources.list.d/$(basename "$file").list"
    fi
done
shopt -u nullglob
if [ -z "$(ls "$work/apt/sources.list.d")" ]; then
    echo "bsdtar: the machine has no apt sources to take the source entries from" >&2
    exit 1
fi
apt_private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
    -o Dir::State="$work/apt" -o Dir::State::Lists="$work/apt/lists" -o Dir::State::status=/var/lib/dpkg/status
    -o Dir::Cache="$work/apt/cache" -o APT::Sandbox::User=root -q)
echo "bsdtar: fetching Debian's libarchive source package"
# A source without source packages fails its part of the update; only the
# source download below has to succeed.
apt-get "${apt_private[@]}" update >"$work/apt.log" 2>&1 || true
(cd "$work/src" && apt-get "${apt_private[@]}" source --download-only libarchive) >>"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; exit 1; }
dsc=$(ls "$work"/src/libarchive_*.dsc)
(cd "$work/src" && dpkg-source -x "$dsc" libarchive) >"$work/unpack.log" 2>&1 || { cat "$work/unpack.log" >&2; exit 1; }

# Windows' tar.exe links zlib in; the other optional libraries stay out.
# Without the mingw zlib, configure would quietly leave zip's deflate out.
echo "bsdtar: building $(basename "$dsc" .dsc) for Windows"
cd "$work/src/libarchive"
# Debian's patches touch Makefile.am and configure.ac, for libarchive's own
# tests and its pkg-config file only: the shipped configure and Makefile.in
# serve bsdtar as they are, and make must not try to regenerate them (that
# would take automake).
touch aclocal.m4 configure build/autoconf/config.h.in Makefile.in
./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix --enable-static --disable-shared \
    LDFLAGS=-static --disable-bsdcpio --disable-bsdcat --disable-acl --disable-xattr --without-bz2lib \
    --without-libb2 --without-iconv --without-lz4 --without-zstd --without-lzma --without-cng --without-openssl \
    --without-xml2 --without-expat --without-mbedtls --without-nettle >"$work/configure.log" 2>&1 ||
    { tail -n 30 "$work/configure.log" >&2; exit 1; }
# libtool passes a plain -static on for its own libraries only: -all-static
# keeps ld from taking zlib's import library, so that, like Windows' own, the
# file needs no zlib1.dll beside it.
make -j 2 bsdtar.exe LDFLAGS="-all-static -s" >"$work/make.log" 2>&1 || { tail -n 30 "$work/make.log" >&2; exit 1; }
imports=$(x86_64-w64-mingw32-objdump -p bsdtar.exe | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
    case "$dll" in
        kernel32.dll | advapi32.dll | msvcrt.dll | user32.dll | bcrypt.dll | ws2_32.dll) ;;
        *) echo "bsdtar: the build needs $dll beside it; Windows' tar.exe needs only system DLLs" >&2
           exit 1 ;;
    esac
done

# It must inflate zip archives: its version line names zlib when it can.
. "$here/wine-env.sh"
version=$(WINEPREFIX="$work/prefix" wine ./bsdtar.exe --version </dev/null 2>/dev/null | tr -d '\r' | sed 's/[[:space:]]*$//' || true)
WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
case "$version" in
    *zlib/*) ;;
    *) echo "bsdtar: the build cannot inflate zip archives (no zlib in '$version'; is libz-mingw-w64-dev installed?)" >&2
       exit 1 ;;
esac
cp bsdtar.exe "$out/bsdtar.exe.part"
echo "$version" >"$out/version.txt"
mv "$out/bsdtar.exe.part" "$out/bsdtar.exe"
cd "$out"
rm -rf "$work"
echo "bsdtar: $version, built in $(($(date +%s) - started)) s"
