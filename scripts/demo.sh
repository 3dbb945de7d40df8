#!/usr/bin/env bash
# Builds libzentrik and the simulated controller, then runs the bundled example
# application through the component: every variable as one JSON document, a JSON text
# written into a structured variable, and that variable printed again. The host log
# goes to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/plain >/dev/null
cmake --build build/plain -j "$(nproc)" --target zentrik zentrik-host
build/plain/zentrik-host examples/plant.st \
    print \
    write palletiser '{"palletiser":{"position":125.5,"velocity":300.0,"enabled":false,"limits":[10.0,900.0]}}' \
    print palletiser
