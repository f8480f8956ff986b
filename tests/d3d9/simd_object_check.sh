#!/bin/sh
# The wider rasterisers' objects (AVX2, AVX-512) may define only their own
# entry points with AVX instructions. Any other function they define that
# other objects can use (an inline function of a shared header, emitted out
# of line) is kept by the linker for the whole program, and must then be
# the baseline code, or processors without those instructions would fault
# on it.
# usage: simd_object_check.sh LIBRARY
set -eu
library=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
for isa in avx2 avx512; do
    member=$(ar t "$library" | grep "rasterizer_$isa\.cpp\.o\$" || true)
    [ -n "$member" ] || { echo "no rasterizer_$isa object in $library"; exit 1; }
    ar x "$library" "$member"
    entry=0
    for symbol in $(nm --defined-only "$member" | awk '$2 ~ /^[TWVu]$/ {print $3}'); do
        vex=$(objdump -d --disassemble="$symbol" "$member" | grep -cE '[[:space:]]v[a-z0-9]+[[:space:]]' || true)
        case $symbol in
            _ZN6render${#isa}${isa}17RasterizeTriangle*) entry=1 ;;
            *) if [ "$vex" -ne 0 ]; then echo "$symbol: $vex AVX instructions in a symbol the whole program may use"; exit 1; fi ;;
        esac
    done
    [ "$entry" = 1 ] || { echo "render::$isa::RasterizeTriangle is missing"; exit 1; }
    echo "rasterizer_$isa: only the entry point has AVX code"
done
