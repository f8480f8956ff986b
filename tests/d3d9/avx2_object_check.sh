#!/bin/sh
# The AVX2 rasteriser's object may define only its own entry point with AVX
# instructions. Any other function it defines that other objects can use
# (an inline function of a shared header, emitted out of line) is kept by
# the linker for the whole program, and must then be the baseline code, or
# processors without AVX2 would fault on it.
# usage: avx2_object_check.sh LIBRARY
set -eu
library=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
member=$(ar t "$library" | grep 'rasterizer_avx2\.cpp\.o$' || true)
[ -n "$member" ] || { echo "no rasterizer_avx2 object in $library"; exit 1; }
ar x "$library" "$member"
entry=0
for symbol in $(nm --defined-only "$member" | awk '$2 ~ /^[TWVu]$/ {print $3}'); do
    vex=$(objdump -d --disassemble="$symbol" "$member" | grep -cE '[[:space:]]v[a-z0-9]+[[:space:]]' || true)
    case $symbol in
        _ZN6render4avx217RasterizeTriangle*) entry=1 ;;
        *) if [ "$vex" -ne 0 ]; then echo "$symbol: $vex AVX instructions in a symbol the whole program may use"; exit 1; fi ;;
    esac
done
[ "$entry" = 1 ] || { echo "render::avx2::RasterizeTriangle is missing"; exit 1; }
echo "rasterizer_avx2: only the entry point has AVX code"
