#!/usr/bin/env bash
# Builds the Debian package of libzentrik with CPack: the library (with its soname),
# the IEC declarations of the blocks, the utilities' headers, zentrik-host, the example
# application and README, installed under /usr.
#   scripts/package.sh        -> build/package/libzentrik_<version>_amd64.deb
# scripts/check-package.sh unpacks it into a temporary root and uses it.
set -euo pipefail
cd "$(dirname "$0")/.."

ZENTRIK_WITH_PACKAGING=1 scripts/install-deps.sh
build="build/package"
# Only the installed targets are built: the install step does not build the tests.
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target zentrik zentrik-host
rm -f "$build"/libzentrik_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/libzentrik_*.deb
