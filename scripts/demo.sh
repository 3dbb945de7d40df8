#!/usr/bin/env bash
# Builds libzentrik and the simulated controller, then runs the bundled example
# application through the component.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/plain >/dev/null
cmake --build build/plain -j "$(nproc)" --target zentrik zentrik-host
build/plain/zentrik-host examples/plant.st
