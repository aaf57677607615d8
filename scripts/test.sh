#!/usr/bin/env bash
# Installs what is missing, builds Varlow and runs every test: the normal build (core and window
# tests), the same tests under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded
# transrate's tests under ThreadSanitizer, and a short bounded run of each libFuzzer target.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
[ "${VARLOW_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== build and test (gcc) =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARLOW_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test under ASan + UBSan =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARLOW_SANITIZE=ON -DVARLOW_BENCH=OFF -DVARLOW_WERROR=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$top/scripts/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== threaded transrate under ThreadSanitizer =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARLOW_TSAN=ON -DVARLOW_GUI=OFF -DVARLOW_BENCH=OFF \
  -DVARLOW_WERROR=ON
cmake --build build-tsan --target varlow_tests -j "$jobs"
# Without address randomisation where the machine allows it: ThreadSanitizer's fixed memory layout
# does not fit every kernel's randomised one.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "${norandom[@]}" ctest --test-dir build-tsan --output-on-failure -j "$jobs"

echo "== fuzz (clang, libFuzzer, bounded) =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARLOW_FUZZ=ON -DVARLOW_GUI=OFF -DVARLOW_TESTS=OFF -DVARLOW_BENCH=OFF -DVARLOW_WERROR=ON
cmake --build build-fuzz -j "$jobs"
fuzz_seconds=${VARLOW_FUZZ_SECONDS:-35}
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="build-fuzz/corpus-$name"
  mkdir -p "$corpus"
  cp samples/*.m2v "$corpus/" 2>/dev/null || true
  for c in ../shared/streams/containers/*.ts ../shared/streams/negative/*.mpg; do
    if [ -f "$c" ]; then head -c 65536 "$c" > "$corpus/seed-$(basename "$c")"; fi
  done
  echo "-- $name for ${fuzz_seconds}s"
  "$f" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 -max_len=262144 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
done
echo "all test stages passed"
