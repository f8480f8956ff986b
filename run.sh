#!/usr/bin/env bash
# Sets up the machine, builds Vintrel and runs the demo.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

cmake --preset release >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)"

exe=build/release/bin/vintrel
if [ ! -x "$exe" ]; then
    echo "run.sh: the libraries are built (build/release); the program itself is not there yet."
    exit 0
fi
data=build/data
if [ -x build/release/bin/vintrel-make-assets ]; then
    build/release/bin/vintrel-make-assets "$data"
fi
cd "$data"
exec "../release/bin/vintrel"
