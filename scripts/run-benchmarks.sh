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
"$build/bench/window_latency_bench" "$corpus" "$build/app"
