#!/bin/bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to
# CMake's configure step, e.g. scripts/build.sh -DORV_SANITIZE=ON.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=$here   # clones elsewhere share the cache
fi
# Ninja starts the next job sooner and checks a built tree in a fraction of
# the time make takes. A tree already configured keeps its generator.
generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
