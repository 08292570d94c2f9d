#!/usr/bin/env bash
# Build what is needed (for now the run only builds).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build/main" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOXD_FUZZ=OFF >/dev/null
cmake --build "$top/build/main" -j "$(nproc)"
