#!/usr/bin/env bash
# Builds libzentrik and the simulated controller, then runs the bundled example
# application through the component: every variable as one JSON document, a JSON text
# written into a structured variable, and that variable printed again. Stdout holds
# the demo's JSON alone: the build's output and the host log go to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
cmake -S . -B build/plain >&2
cmake --build build/plain -j "$(nproc)" --target zentrik zentrik-host >&2
build/plain/zentrik-host examples/plant.st \
    print \
    write palletiser '{"palletiser":{"position":125.5,"velocity":300.0,"enabled":false,"limits":[10.0,900.0]}}' \
    print palletiser
