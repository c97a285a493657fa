#!/usr/bin/env bash
# Builds Tesserix and runs every test: the unit and window tests, then the
# unit tests again in an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

echo "== build =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERIX_WERROR=$werror >/dev/null
cmake --build build -j"$jobs"
echo "== tests =="
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

echo "== sanitizer build (address, undefined) =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSERIX_WERROR=$werror \
  -DTESSERIX_SANITIZE=address,undefined -DTESSERIX_GUI=OFF -DTESSERIX_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target tesserix_tests
echo "== sanitizer tests =="
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -L unit)
