#!/usr/bin/env bash
# Builds the libFuzzer target with clang (ASan and UBSan on) and fuzzes for
# SECONDS (default 60), starting from the seeds kept beside this script.
#   tests/fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTESSALY_FUZZ=ON \
  -DTESSALY_TESTS=OFF -DTESSALY_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target open_image_fuzzer
mkdir -p build-fuzz/corpus
# -timeout: any one input that takes longer than 10 s counts as a hang.
build-fuzz/bin/open_image_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -max_len=262144 build-fuzz/corpus tests/fuzz/corpus
