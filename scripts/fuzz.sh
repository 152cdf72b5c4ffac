#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs the flat data file
# fuzzer and the dBase III fuzzer, sharing the given number of seconds
# (default 60), each starting from a valid seed it writes itself.
#
#   scripts/fuzz.sh SECONDS
set -eu
secs=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNV_FUZZ=ON -DNV_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target flat_open_fuzzer db3_open_fuzzer
flat_secs=$(( (secs + 1) / 2 ))
db3_secs=$(( secs - flat_secs > 0 ? secs - flat_secs : 1 ))
corpus=$build/fuzz-corpus/flat_open
mkdir -p "$corpus"
FLAT_FUZZ_SEED_DIR=$corpus "$build/bin/flat_open_fuzzer" -runs=0 "$corpus" >/dev/null 2>&1 || true
"$build/bin/flat_open_fuzzer" -max_total_time="$flat_secs" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus"
corpus=$build/fuzz-corpus/db3_open
mkdir -p "$corpus"
DB3_FUZZ_SEED_DIR=$corpus "$build/bin/db3_open_fuzzer" -runs=0 "$corpus" >/dev/null 2>&1 || true
exec "$build/bin/db3_open_fuzzer" -max_total_time="$db3_secs" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus"
