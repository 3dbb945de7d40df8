#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks, the fuzzers and
# the Debian package need. Idempotent: packages already present are not installed
# again, and the package lists are refreshed only when something is missing.
set -euo pipefail

packages=(cmake make g++ binutils rapidjson-dev libgtest-dev libgmock-dev libbenchmark-dev)
if [[ "${ZENTRIK_WITH_CLANG:-0}" == 1 ]]; then
    packages+=(clang libclang-rt-dev)
fi
if [[ "${ZENTRIK_WITH_BENCH:-0}" == 1 ]]; then
    # simdjson, which the datatype suite measures beside the component's parse; only the
    # benchmark links it, never libzentrik.so.
    packages+=(libsimdjson-dev)
fi
if [[ "${ZENTRIK_WITH_PACKAGING:-0}" == 1 ]]; then
    # dpkg-shlibdeps and dpkg-buildflags to build the packages; lintian to check them,
    # pkgconf to build a program against them.
    packages+=(dpkg-dev lintian pkgconf)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "installing: ${missing[*]}"
    as_root=()
    if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
