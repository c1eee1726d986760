#!/bin/bash
# Builds the response reader's libFuzzer target with clang (outside the gcc presets) into
# build/fuzz and runs it for a bounded time: fuzz.sh [SECONDS] (default 60). The seed corpus in
# tests/fuzz/corpus is copied, so that new inputs stay in the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build/fuzz
mkdir -p "$out/corpus"

sources=(core/http_response.cpp core/cookies.cpp core/charset.cpp core/url.cpp core/error.cpp core/text.cpp
  core/posix/codepage.cpp)
binary=$out/http_response_fuzz
newest=$(cd "$root" && ls -t tests/fuzz/http_response_fuzz.cpp "${sources[@]}" core/*.h | head -1)
if [ ! -x "$binary" ] || [ "$root/$newest" -nt "$binary" ]; then
  echo "== building $binary"
  (cd "$root" && clang++ -std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=undefined tests/fuzz/http_response_fuzz.cpp "${sources[@]}" -o "$binary")
fi

cp -n "$root"/tests/fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
echo "== fuzzing the response reader for ${seconds}s"
"$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" 2>"$out/fuzz.log" || {
  tail -50 "$out/fuzz.log"
  exit 1
}
grep -E "stat::number_of_executed_units|Done" "$out/fuzz.log" | tail -2
