#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Decoding as WebAssembly against the native build, in one run on the same pictures (the
# samples and decode_bench's busy and noisy pictures, which it writes out for this):
#   native  decode_bench's medians of GetPicture (CPU time, 9 repetitions)
#   wasm    wasm_decode_bench's medians of GetPicture under node (CPU time, 9 repetitions)
# make bench-web builds both and runs this.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
native="$top/build/native/bench/decode_bench"
wasm="$top/build/web/bench/wasm_decode_bench.js"
for program in "$native" "$wasm"; do
  [ -f "$program" ] || { echo "bench-web: $program is not built (make native web)" >&2; exit 1; }
done

folder="$(mktemp -d "${TMPDIR:-/tmp}/planes-bench-web-XXXXXX")"
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/pictures"
"$native" --write-pictures "$folder/pictures"
echo "Native: decode_bench (GetPicture only)" >&2
"$native" --benchmark_filter='^GetPicture/' >"$folder/native.txt"
echo "WebAssembly: wasm_decode_bench under node $(node --version)" >&2
node "$wasm" "$folder"/pictures/*.gra "$folder"/pictures/*.q >"$folder/wasm.txt"

# decode_bench's table of medians names a picture KIND/NAME (the files are KIND_NAME); the
# table of by-name decodes after it is not read.
awk '
  FNR == NR && /^by name/ { byName = 1 }
  FNR == NR { if (!byName && $1 ~ /\// && $2 ~ /^[0-9.]+$/) { label = $1; sub("/", "_", label); native[label] = $2; order[++n] = label }; next }
  $2 ~ /^[0-9.]+$/ { wasm[$1] = $2 }
  END {
    printf "%-16s %12s %12s %12s\n", "picture", "native (us)", "wasm (us)", "wasm/native"
    for (i = 1; i <= n; ++i) {
      label = order[i]
      if (!(label in wasm)) continue
      ratio = wasm[label] / native[label]
      ratios[++m] = ratio
      name = label; sub("_", "/", name)
      printf "%-16s %12.1f %12.1f %12.2f\n", name, native[label], wasm[label], ratio
    }
    # The median of the ratios.
    for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (ratios[j] < ratios[i]) { t = ratios[i]; ratios[i] = ratios[j]; ratios[j] = t }
    median = m % 2 ? ratios[(m + 1) / 2] : (ratios[m / 2] + ratios[m / 2 + 1]) / 2
    printf "%-16s %12s %12s %12.2f\n", "median", "", "", median
  }' "$folder/native.txt" "$folder/wasm.txt"
