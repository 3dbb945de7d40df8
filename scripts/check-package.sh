#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh built, as Debian and an integrator
# would see them:
#   1. lintian (default profile) reports no error and no warning;
#   2. each package holds its files, the library its soname and the shlibs entry;
#   3. dpkg -i installs the three together into a clean root: a temporary folder with a
#      dpkg database that holds only the records of the packages' dependencies, as
#      this machine has them (no root rights needed, the machine is not changed);
#   4. zentrik-host from that root, without --lib, loads the library of that root;
#   5. README's example program builds against that root with README's pkg-config line
#      and with README's find_package(zentrik) lines, and runs as README shows;
#   6. the packages built again from a copy of the tree in another folder are the same,
#      byte for byte.
#   scripts/check-package.sh [BUILD_DIR]     default build/package
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/package}"
packages=(libzentrik3 libzentrik-dev zentrik-tools)
header=include/RV5072_Zentrik/ZentrikVersion.h
part() { sed -n "s/^#define ZENTRIK_VERSION_$1 \([0-9]*\)$/\1/p" "$header"; }
major="$(part MAJOR)"
version="$major.$(part MINOR).$(part PATCH).$(part BUILD)"
library_version="$major.$(part MINOR).$(part PATCH)"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
debs=()
for package in "${packages[@]}"; do
    deb="$build/${package}_${version}_$arch.deb"
    [[ -f "$deb" ]] || { echo "no $deb; run scripts/package.sh first" >&2; exit 1; }
    debs+=("$deb")
done
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

# 1. lintian, errors and warnings.
lintian --fail-on error,warning "${debs[@]}" >"$scratch/lintian.txt" 2>&1 || lintian_failed=1
grep -v '^running with root privileges' "$scratch/lintian.txt" || true
[[ -z "${lintian_failed:-}" ]] || fail "lintian reports errors or warnings"

# 2. What each package holds.
libdir="usr/lib/$multiarch"
declare -A expected=(
    [libzentrik3]="$libdir/libzentrik.so.$library_version $libdir/libzentrik.so.$major"
    [libzentrik-dev]="usr/include/zentrik/utils/comm.h usr/include/zentrik/utils/log.h
        usr/include/zentrik/utils/export.h $libdir/libzentrik.so $libdir/pkgconfig/zentrik.pc
        $libdir/cmake/zentrik/zentrikConfig.cmake $libdir/cmake/zentrik/zentrikConfigVersion.cmake
        usr/share/zentrik/iec/fb_jsonsaxwriter.st usr/share/zentrik/iec/fb_jsonreadwritedatatype.st
        usr/share/zentrik/iec/fb_jsonreader.st usr/share/doc/libzentrik-dev/README.md.gz
        usr/share/doc/libzentrik-dev/docs/writer.md.gz usr/share/doc/libzentrik-dev/docs/zentrik-host.md.gz
        usr/share/doc/libzentrik-dev/docs/decisions/README.md.gz"
    [zentrik-tools]="usr/bin/zentrik-host usr/share/man/man1/zentrik-host.1.gz
        usr/share/zentrik/examples/plant.st")
for i in "${!packages[@]}"; do
    package="${packages[$i]}"
    listing="$(dpkg-deb -c "${debs[$i]}" | awk '{ print $6 }')"
    for file in ${expected[$package]} usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz; do
        grep -qx "./$file" <<<"$listing" || fail "$package lacks /$file"
    done
    [[ "$(dpkg-deb -f "${debs[$i]}" Version)" == "$version" ]] || fail "$package is not version $version"
done
[[ "$(dpkg-deb -I "${debs[0]}" shlibs)" == "libzentrik $major libzentrik3 (>= $version)" ]] ||
    fail "libzentrik3 has no shlibs entry for libzentrik.so.$major"
[[ "$(dpkg-deb -I "${debs[0]}" triggers)" == "activate-noawait ldconfig" ]] || fail "libzentrik3 has no ldconfig trigger"

# 3. dpkg -i into a clean root. Its database knows the dependencies outside these
# packages (libc6, libstdc++6, ...) from this machine's records; their files are not
# needed there, the programs below run with this machine's C and C++ libraries.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
for dependency in $(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends; done |
    tr ',' '\n' | sed 's/^ *//; s/[ (].*//' | grep -v -e '^$' -e '^libzentrik' | sort -u); do
    { dpkg-query -s "$dependency" && echo; } >>"$root/var/lib/dpkg/status" ||
        fail "this machine has no $dependency installed"
done
as_user=()
if [[ $(id -u) -ne 0 ]]; then as_user=(--force-not-root); fi
# dpkg wants ldconfig and start-stop-daemon on the PATH, which a user's PATH may lack.
PATH="$PATH:/usr/sbin:/sbin" dpkg --root="$root" "${as_user[@]}" --log=/dev/null -i "${debs[@]}" \
    >"$scratch/dpkg.txt" 2>&1 ||
    { cat "$scratch/dpkg.txt" >&2; fail "dpkg -i does not install the packages together"; }
for package in "${packages[@]}"; do
    [[ "$(dpkg-query --root="$root" -W -f='${Status}' "$package")" == "install ok installed" ]] ||
        fail "$package is not installed in the clean root"
done
library="$root/$libdir/libzentrik.so.$major"
objdump -p "$library" | grep -q "SONAME *libzentrik.so.$major$" || fail "wrong soname"

# 4. zentrik-host from the root, with no --lib: it must load the root's library.
host="$root/usr/bin/zentrik-host"
out="$(LD_DEBUG=files "$host" --quiet "$root/usr/share/zentrik/examples/plant.st" \
    write palletiser '{"palletiser":{"position":7.5,"limits":[1.0,2.0]}}' print palletiser 2>"$scratch/ld.txt")"
loaded="$(sed -n 's/.*file=\([^ ]*libzentrik[^ ]*\) .*dynamically loaded by.*/\1/p' "$scratch/ld.txt" | head -n 1)"
[[ -n "$loaded" && "$(realpath "$loaded")" == "$(realpath "$library")" ]] ||
    fail "zentrik-host did not load the packaged library (loaded: ${loaded:-none})"
[[ "$out" == *'"position":7.5,'*'"limits":[1.0,2.0]'* ]] || fail "unexpected output: $out"
"$host" --help >/dev/null
zcat "$root/usr/share/man/man1/zentrik-host.1.gz" | grep -q '^\.SH OPTIONS' || fail "no manual page"

# 5. README's example of a program against the installed headers and library: its C++
# text, built with the pkg-config line README gives and with README's CMake lines, each
# confined to the root; it prints what README shows.
consumer="$scratch/consumer"
mkdir -p "$consumer"
fence() { awk -v info="$1" '$0 == "```" info { inside = 1; next } inside && $0 == "```" { exit } inside' README.md; }
fence cpp >"$consumer/stamp.cpp"
[[ -s "$consumer/stamp.cpp" ]] || fail "README.md has no C++ example"
pkg_config_line="$(grep -m 1 '^g++ .*\$(pkg-config --cflags --libs zentrik)' README.md)" ||
    fail "README.md gives no pkg-config line"
shown="$(grep -m 1 '^# .*md5 of hello: ' README.md | sed 's/^# .*\]://')" || fail "README.md shows no output"
{
    printf 'cmake_minimum_required(VERSION 3.16)\nproject(stamp LANGUAGES CXX)\n'
    fence cmake
} >"$consumer/CMakeLists.txt"
grep -q 'zentrik::zentrik' "$consumer/CMakeLists.txt" || fail "README.md has no CMake example"
(
    cd "$consumer"
    export PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$root/$libdir/pkgconfig" \
        PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
    pkg-config --exists zentrik || fail "pkg-config does not find zentrik"
    eval "$pkg_config_line" || fail "README's pkg-config line does not build README's example: $pkg_config_line"
)
cmake -S "$consumer" -B "$consumer/build" -DCMAKE_FIND_ROOT_PATH="$root" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY >"$scratch/cmake.txt" 2>&1 ||
    { cat "$scratch/cmake.txt" >&2; fail "find_package(zentrik) fails"; }
cmake --build "$consumer/build" >/dev/null
for program in "$consumer/stamp" "$consumer/build/stamp"; do
    printed="$(LD_LIBRARY_PATH="$root/$libdir" "$program")" || fail "$(basename "$program") does not run"
    [[ "$printed" == *"$shown"* ]] || fail "$program printed $printed, not ...$shown"
done
[[ "$(LD_LIBRARY_PATH="$root/$libdir" "$consumer/stamp")" == *"stamp.cpp,main,$(grep -m 1 -o 'stamp.cpp,main,[0-9]*' README.md | cut -d, -f3),"* ]] ||
    fail "README shows another line of stamp.cpp than its example logs from"

# 6. The same packages from a copy of the tree in another folder.
copy="$scratch/elsewhere/libzentrik-source"
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy"
"$copy/scripts/package.sh" >"$scratch/again.txt" 2>&1 || { cat "$scratch/again.txt" >&2; fail "second build"; }
for deb in "${debs[@]}"; do
    cmp -s "$deb" "$copy/build/package/$(basename "$deb")" || {
        mkdir -p "$scratch/a" "$scratch/b"
        dpkg-deb -R "$deb" "$scratch/a/$(basename "$deb")"
        dpkg-deb -R "$copy/build/package/$(basename "$deb")" "$scratch/b/$(basename "$deb")"
        diff -r "$scratch/a" "$scratch/b" >&2 || true
        fail "$(basename "$deb") differs when built in another folder"
    }
done

echo "check-package: ${packages[*]} $version: lintian clean, installed together into a clean root;" \
    "zentrik-host loads the packaged library; README's program builds with pkg-config and find_package;" \
    "a second build in another folder gives the same packages"
