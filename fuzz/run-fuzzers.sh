#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each for SECONDS seconds (default 60)
# from the committed seed corpus. Fails on any finding: the input that shows
# it is left as crash-*, leak-*, oom-* or timeout-* in the work directory.
#   bash fuzz/run-fuzzers.sh [SECONDS] [BUILD_DIR] [WORK_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=${2:-build-fuzz}
work=${3:-$dir/fuzz-work}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQF_FUZZ=ON -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$jobs" --target FuzzFilter FuzzPage FuzzPpd FuzzPreview

# libcups callocs a line buffer of the header's bytes per line (up to 4 GiB)
# for a hostile compressed-raster header before the filter sees it; under
# AddressSanitizer that takes seconds and a large shadow. Such allocations
# fail here instead (libcups then ends the stream); nothing of ours asks for
# more than a page, 256 MiB.
export ASAN_OPTIONS=max_allocation_size_mb=1024:allocator_may_return_null=1
common=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1)
status=0
for target in FuzzFilter:filter:16384 FuzzPage:page:16384 FuzzPpd:ppd:8192 FuzzPreview:preview:4096; do
  IFS=: read -r name seeds maxlen <<<"$target"
  mkdir -p "$work/$name/corpus"
  echo "== $name, $seconds s"
  if ! (cd "$work/$name" && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LSAN_OPTIONS=suppressions="$OLDPWD/fuzz/lsan.supp" \
        "$OLDPWD/$dir/fuzz/$name" "${common[@]}" -max_len="$maxlen" -artifact_prefix="$PWD/" \
        corpus "$OLDPWD/fuzz/corpus/$seeds" >log 2>&1); then
    echo "$name found something:"; grep -E "ERROR|SUMMARY|Test unit written" "$work/$name/log" | head -20
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/$name/log" || true
done
exit $status
