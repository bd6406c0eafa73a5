#!/usr/bin/env bash
# Redraws the sample pictures in this folder with the project's own writers (tools/samplegen).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cmake --preset native >/dev/null
cmake --build --preset native --target samplegen >/dev/null
"$top/build/native/tools/samplegen" "$top/samples"
