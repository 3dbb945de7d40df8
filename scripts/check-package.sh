#!/usr/bin/env bash
# Unpacks the Debian package into a temporary root (no installation, no root rights
# needed) and uses it as an integrator would: zentrik-host runs the installed example
# against the library installed beside it, and a small program is compiled against the
# installed utilities' headers and linked with the installed library.
#   scripts/check-package.sh [PACKAGE.deb]     default: build/package/libzentrik_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

deb="${1:-$(ls build/package/libzentrik_*.deb 2>/dev/null | head -n 1)}"
[[ -f "$deb" ]] || { echo "no package; run scripts/package.sh first" >&2; exit 1; }
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
fail() { echo "check-package: $*" >&2; exit 1; }

# The version and soname come from the component's version header.
header=include/RV5072_Zentrik/ZentrikVersion.h
part() { sed -n "s/^#define ZENTRIK_VERSION_$1 \([0-9]*\)$/\1/p" "$header"; }
version="$(part MAJOR).$(part MINOR).$(part PATCH).$(part BUILD)"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "package version is not $version"
libdir="$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
library="$libdir/libzentrik.so.$(part MAJOR)"
[[ -f "$library" ]] || fail "no $library"
objdump -p "$library" | grep -q "SONAME *libzentrik.so.$(part MAJOR)$" || fail "wrong soname"
for file in usr/bin/zentrik-host usr/share/zentrik/iec/fb_jsonsaxwriter.st \
    usr/share/zentrik/iec/fb_jsonreadwritedatatype.st usr/share/zentrik/examples/plant.st \
    usr/include/zentrik/utils/comm.h usr/include/zentrik/utils/log.h usr/include/zentrik/utils/export.h \
    usr/share/doc/libzentrik/README.md "usr/lib/$(basename "$libdir")/libzentrik.so"; do
    [[ -e "$root/$file" ]] || fail "the package lacks /$file"
done

# zentrik-host from the package, with no --lib: it must load the packaged library.
host="$root/usr/bin/zentrik-host"
out="$(LD_DEBUG=files "$host" --quiet "$root/usr/share/zentrik/examples/plant.st" \
    write palletiser '{"palletiser":{"position":7.5,"limits":[1.0,2.0]}}' print palletiser 2>"$root/ld.txt")"
loaded="$(sed -n 's/.*file=\([^ ]*libzentrik[^ ]*\) .*dynamically loaded by.*/\1/p' "$root/ld.txt" | head -n 1)"
[[ -n "$loaded" && "$(realpath "$loaded")" == "$(realpath "$library")" ]] ||
    fail "zentrik-host did not load the packaged library (loaded: ${loaded:-none})"
[[ "$out" == *'"position":7.5,'*'"limits":[1.0,2.0]'* ]] || fail "unexpected output: $out"
"$host" --help >/dev/null

# A program of the integrator's own, against the installed headers and library.
cat >"$root/stamp.cpp" <<'CPP'
#include "utils/comm.h"
#include <cstdio>
int main() {
    std::string text = "hello";
    std::printf("%s\n", CComm::GetMd5(text).c_str());
}
CPP
g++ -std=c++17 -I"$root/usr/include/zentrik" "$root/stamp.cpp" -o "$root/stamp" -L"$libdir" -lzentrik \
    -Wl,-rpath,"$libdir"
[[ "$("$root/stamp")" == 5d41402abc4b2a76b9719d911017c592 ]] || fail "the utilities do not link or run"
echo "check-package: $(basename "$deb") unpacked and used: library, zentrik-host, IEC declarations, headers"
