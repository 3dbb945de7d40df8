#!/usr/bin/env bash
# Builds the Debian packages of libzentrik, one staging tree each, with dpkg-deb:
#   libzentrik3      the library with its soname link, shlibs and ldconfig trigger
#   libzentrik-dev   headers (/usr/include/zentrik), the link for -lzentrik, zentrik.pc,
#                    the CMake package (zentrik::zentrik), the IEC declarations
#                    (/usr/share/zentrik/iec) and the guide
#   zentrik-tools    zentrik-host, its manual page, the example application
# Each takes its files from the CMake install component of the same role, and its
# copyright and changelog from packaging/.
#   scripts/package.sh [BUILD_DIR]     default build/package; the .deb files go there
# The build is reproducible: the compilers get no folder of this machine, and every
# file time is the date of the latest changelog entry, so two builds of one commit in
# different folders give the same packages. scripts/check-package.sh checks them.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

ZENTRIK_WITH_PACKAGING=1 scripts/install-deps.sh
build="${1:-build/package}"
changelog=packaging/changelog

# The version is the component's (ZentrikVersion.h); the changelog must name it.
header=include/RV5072_Zentrik/ZentrikVersion.h
part() { sed -n "s/^#define ZENTRIK_VERSION_$1 \([0-9]*\)$/\1/p" "$header"; }
major="$(part MAJOR)"
version="$major.$(part MINOR).$(part PATCH).$(part BUILD)"
if [[ "$(dpkg-parsechangelog -l "$changelog" -SVersion)" != "$version" ]]; then
    echo "package: $changelog does not start with an entry for $version" >&2
    exit 1
fi
maintainer="$(dpkg-parsechangelog -l "$changelog" -SMaintainer)"
export SOURCE_DATE_EPOCH="$(dpkg-parsechangelog -l "$changelog" -STimestamp)"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"

# Debian's build flags (hardening included) with the build type's optimisation.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_RPATH=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    >/dev/null
# Only the installed targets: the install step does not build the tests.
cmake --build "$build" -j "$(nproc)" --target zentrik zentrik-host

stage="$build/stage"
rm -rf "$stage" "$build"/*.deb

# Installs one component into the package's tree, with the copyright and changelog.
stage_package() {
    local package="$1" component="$2"
    local root="$stage/$package"
    DESTDIR="$root" cmake --install "$build" --component "$component" >/dev/null
    install -d "$root/usr/share/doc/$package" "$root/DEBIAN"
    install -m 644 packaging/copyright "$root/usr/share/doc/$package/copyright"
    gzip -9n <"$changelog" >"$root/usr/share/doc/$package/changelog.gz"
}
stage_package libzentrik3 runtime
stage_package libzentrik-dev dev
stage_package zentrik-tools tools
gzip -9n <README.md >"$stage/libzentrik-dev/usr/share/doc/libzentrik-dev/README.md.gz"
# The guide's pages beside README, in their folders (compressed as Debian compresses
# documentation).
guide="$stage/libzentrik-dev/usr/share/doc/libzentrik-dev/docs"
(cd docs && find . -name '*.md' -printf '%P\n' | LC_ALL=C sort) | while read -r page; do
    install -d "$guide/$(dirname "$page")"
    gzip -9n <"docs/$page" >"$guide/$page.gz"
done
man="$stage/zentrik-tools/usr/share/man/man1"
gzip -9n "$man/zentrik-host.1"

library="$stage/libzentrik3/usr/lib/$multiarch/libzentrik.so.$major"
program="$stage/zentrik-tools/usr/bin/zentrik-host"
# As dh_strip does; debug information stays in the build tree.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$(realpath "$library")"
strip --remove-section=.comment --remove-section=.note "$program"
chmod 644 "$(realpath "$library")"

# The run-time dependencies of the ELF files, as dpkg-shlibdeps finds them (it wants
# a debian/control, which a staging tree has not).
shlibdeps() {
    local scratch
    scratch="$(mktemp -d)"
    mkdir "$scratch/debian"
    touch "$scratch/debian/control"
    (cd "$scratch" && dpkg-shlibdeps -O "$@" | sed -n 's/^shlibs:Depends=//p')
    rm -rf "$scratch"
}
library_depends="$(shlibdeps "$(realpath "$library")")"
program_depends="$(shlibdeps "$(realpath "$program")")"

# Installed-Size as dpkg-gencontrol counts it: every file in whole KiB, 1 for every
# other entry. Directory sizes of the build machine's file system play no part.
installed_size() {
    find "$1" -path "$1/DEBIAN" -prune -o -mindepth 1 -printf '%y %s\n' |
        awk '{ kib += ($1 == "f") ? int(($2 + 1023) / 1024) : 1 } END { print kib }'
}

# Writes DEBIAN/control of a package from its fields (the description last).
control() {
    local package="$1" fields="$2" description="$3"
    cat >"$stage/$package/DEBIAN/control" <<EOF
Package: $package
Source: libzentrik
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(installed_size "$stage/$package")
$fields
Description: $description
EOF
}

control libzentrik3 "Multi-Arch: same
Depends: $library_depends
Section: libs
Priority: optional" "JSON function blocks for IEC 61131-3 controller runtimes
 libzentrik is a runtime component that an IEC 61131-3 controller runtime loads
 on 64-bit x86 Linux. It gives control programs three function blocks: a JSON
 writer (fb_jsonsaxwriter), a bridge between application variables of any type
 and JSON (fb_jsonreadwritedatatype) and a JSON reader that answers by JSON
 Pointer (fb_jsonreader). To find a variable by its address it reads the
 application's symbol table on a background thread after every reset or
 download of the application.
 .
 This package holds the shared library, libzentrik.so.$major."

control libzentrik-dev "Multi-Arch: same
Depends: libzentrik3 (= $version)
Section: libdevel
Priority: optional" "JSON function blocks for IEC 61131-3 runtimes - development files
 libzentrik is a runtime component that gives IEC 61131-3 control programs JSON
 function blocks: a writer, a bridge between variables and JSON, and a reader.
 .
 This package holds what a PLC engineer and a C++ developer build with:
  - the IEC 61131-3 declarations of the function blocks, to import into a
    programming system, in /usr/share/zentrik/iec;
  - the headers of the C++ utilities the library exports, included as
    <zentrik/utils/comm.h>, and the link for -lzentrik;
  - the pkg-config file zentrik.pc and the CMake package zentrik, whose
    imported target is zentrik::zentrik;
  - the guide, README.md and the pages of docs/."

control zentrik-tools "Depends: libzentrik3 (= $version), $program_depends
Suggests: libzentrik-dev
Section: devel
Priority: optional" "simulated controller to try libzentrik's JSON function blocks
 zentrik-host loads libzentrik.so the way an IEC 61131-3 controller runtime
 does, starts an application whose variables are declared in a text file, lets
 the component load its symbols and then calls the component's external
 functions from the command line: print variables as JSON, write JSON texts
 into them, parse a JSON text and read it by JSON Pointer, post host events.
 It is meant for trying one's own data types before they are deployed.
 .
 The package also holds a small example application, a bottling line, in
 /usr/share/zentrik/examples."

printf 'libzentrik %s libzentrik3 (>= %s)\n' "$major" "$version" >"$stage/libzentrik3/DEBIAN/shlibs"
printf 'activate-noawait ldconfig\n' >"$stage/libzentrik3/DEBIAN/triggers"

for package in libzentrik3 libzentrik-dev zentrik-tools; do
    root="$stage/$package"
    (cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\n' | LC_ALL=C sort |
        xargs -r md5sum >DEBIAN/md5sums)
    chmod 644 "$root"/DEBIAN/*
    find "$root" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
    dpkg-deb --root-owner-group -Zxz --build "$root" "$build/${package}_${version}_$arch.deb" >/dev/null
done
ls "$build"/*.deb
