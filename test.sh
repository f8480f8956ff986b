#!/usr/bin/env bash
# Sets up the machine, builds the release, sanitizer and Clang configurations
# and runs every test in each.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
for preset in release asan clang; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build "build/$preset" -j"$jobs"
    echo "== $preset: tests"
    if [ "$preset" = asan ]; then
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    fi
    ctest --test-dir "build/$preset" -j"$jobs" --output-on-failure --timeout 900 || status=1
done
exit $status
