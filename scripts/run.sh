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
exec build/tesserix-cli --help
