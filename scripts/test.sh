#!/usr/bin/env bash
# Builds Tesserix and runs every test: the unit and window tests, an
# installation into a temporary prefix and the Debian package, then the
# unit tests again in an AddressSanitizer + UndefinedBehaviorSanitizer build,
# a short run of every fuzz target, and the render-thread tests under
# ThreadSanitizer. Each stage prints its time; any failure fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

stage() {
  [ -n "${stage_name:-}" ] && echo "-- ${stage_name}: $((SECONDS - stage_start)) s"
  stage_name=$1
  stage_start=$SECONDS
  echo "== $1 =="
}

stage build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERIX_WERROR=$werror >/dev/null
cmake --build build -j"$jobs"
stage tests
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

# What an installation and the Debian package hold, and that they work.
stage "install and package"
bash scripts/check_install.sh build

stage "sanitizer build (address, undefined)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSERIX_WERROR=$werror \
  -DTESSERIX_SANITIZE=address,undefined -DTESSERIX_GUI=OFF -DTESSERIX_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target tesserix_tests
stage "sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -L unit)

# Every file reader gets a few seconds of fuzzing from its seeds; an input
# that fails is kept in fuzz/findings/<target>/ and fails the run.
stage "fuzzing (${TESSERIX_FUZZ_SECONDS:=3} s per target)"
bash scripts/fuzz.sh "$TESSERIX_FUZZ_SECONDS"

# The render thread under ThreadSanitizer: the engine's render tests and a
# render driven through the main window while the window is used. Qt is not
# built with the sanitizer; tests/tsan.supp says what inside Qt is ignored.
stage "thread sanitizer build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERIX_WERROR=$werror \
  -DTESSERIX_SANITIZE=thread -DTESSERIX_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target tesserix_render_tests reliability_render_load_test edit_cells_test
stage "thread sanitizer tests"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
build-tsan/tests/tesserix_render_tests
QT_NO_GLIB=1 QT_QPA_PLATFORM=offscreen build-tsan/tests/reliability_render_load_test
QT_NO_GLIB=1 QT_QPA_PLATFORM=offscreen build-tsan/tests/edit_cells_test
unset TSAN_OPTIONS
stage done
echo "all stages passed"
