#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and the address and undefined
# behaviour sanitizers, then runs each for the given seconds (default 60).
# Inputs that crash land in fuzz/findings/<target>/.
#   bash scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTESSERIX_FUZZ=ON -DTESSERIX_SANITIZE=address,undefined -DTESSERIX_GUI=OFF \
  -DTESSERIX_TESTS=OFF -DTESSERIX_BENCH=OFF >/dev/null
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
# leaks inside system libraries we cannot mend are listed in fuzz/lsan.supp
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  findings=fuzz/findings/$name
  work=build-fuzz/corpus/$name  # new inputs stay out of the checked-in seeds
  mkdir -p "$findings" "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  echo "== $t: ${seconds}s =="
  if ! "build-fuzz/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2560 -timeout=10 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" "${seeds[@]}"; then
    echo "$t found a failing input in $findings/" >&2
    status=1
  fi
done
exit $status
