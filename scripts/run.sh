#!/usr/bin/env bash
# Builds Tesserix and runs it: the desktop program where there is a display,
# otherwise the batch tool makes a demo mosaic from the sample pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/tesserix ]; then
  exec build/tesserix
fi
if build/tesserix-cli make --help >/dev/null 2>&1; then
  out="$PWD/build/demo-mosaic.bmp"
  build/tesserix-cli make --source build/sample-source.jpg --images build/images --out "$out" \
    --rows 48 --cols 48 --cell-width 32 --cell-height 32
  echo "Demo mosaic written to $out"
  exit 0
fi
exec build/tesserix-cli --help
