#!/usr/bin/env bash
# Runs the benchmarks against the peer tools on the shared corpus: make bench
set -euo pipefail
build=${1:-build}
corpus=${LUMADOC_CORPUS:-$(cd "$(dirname "$0")/../.." && pwd)/shared/corpus}
"$build/bench/export_bench" "$corpus" "$build/app/libpdftox.so" ${BENCH_ARGS:-}
echo
"$build/bench/tools_bench" "$corpus" "$build/app"
echo
"$build/bench/join_bench" "$build/app"
echo
"$build/bench/assembly_bench" "$build/app" 20 40 80 200
echo
"$build/bench/paragraph_bench" "$corpus" "$build/app/libpdftox.so"
echo
# The HTML pages in a real browser against the pages' own rendering (needs Chromium).
python3 "$(dirname "$0")/../bench/html_ink.py" "$build/app" "$corpus/TAMReview.pdf:5" \
    "$corpus/tracemonkey.pdf:1" "$corpus/tracemonkey.pdf:11" "$corpus/prefilled_f1040.pdf:2" \
    "$corpus/160F-2019.pdf:1" "$corpus/personwithdog.pdf:1" made:1 made:2 made:3
echo
# Text recognition against the tesseract program on the same pages (needs Ghostscript).
python3 "$(dirname "$0")/../bench/ocr_bench.py" "$build/app" "$corpus" "$corpus/../verify"
echo
"$build/bench/window_latency_bench" "$corpus" "$build/app"
