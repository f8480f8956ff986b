#!/usr/bin/env bash
# Sets up the machine, builds Vintrel and runs the demo. Without a display it
# drives the shipped lap headless instead and keeps a few screenshots.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

cmake --preset release >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)"

exe=build/release/bin/vintrel
drive=build/release/bin/vintrel-drive
data=build/data
if [ ! -x "$exe" ]; then
    echo "run.sh: the program was not built (see the build output above)." >&2
    exit 1
fi
if [ ! -f "$data/ct01.x" ] && [ -x build/release/bin/vintrel-make-assets ]; then
    build/release/bin/vintrel-make-assets "$data"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    shots="$PWD/build/run-shots"
    echo "run.sh: no display; driving one lap headless with vintrel-drive instead (a few minutes), screenshots in $shots"
    mkdir -p "$shots"
    # The lap, with a switch to the driver's eye half way round and back.
    script="$shots/lap-with-views.keys"
    { cat tools/drive/lap.keys; echo "2000-2000 V"; echo "3800-3800 V"; } >"$script"
    exec "$drive" --data "$data" --script "$script" \
        --shot 0:"$shots/start.png" --shot 1200:"$shots/chase-view.png" \
        --shot 2200:"$shots/drivers-eye.png" --shot 3400:"$shots/drivers-eye-2.png" \
        --shot 5200:"$shots/chase-view-2.png"
fi
cd "$data"
exec "../release/bin/vintrel"
