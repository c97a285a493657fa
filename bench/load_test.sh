#!/usr/bin/env bash
# The largest job the program accepts, 640 x 640 cells of 32 x 32 pixels
# (a 20480 x 20480 mosaic), from 2,000 pictures: once through the batch
# tool and once through the desktop program's windows under Xvfb. Checks
# that each finishes, that the BMP is exactly 1,258,291,254 bytes and opens,
# that peak memory stays under the raster plus 512 MB, and that the event
# loop of the desktop program never stalls for more than 100 ms while it
# renders. A benchmark, not a test: it takes minutes and 3 GB of disk.
#   bash bench/load_test.sh [work folder]        (default build-load/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-load
work=${1:-$build/work}
mkdir -p "$work"
work=$(cd "$work" && pwd)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSERIX_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tesserix-cli tesserix-make-samples bench_gui_load

rows=640 cols=640 side=32
raster=$((rows * side * 3 * cols * side))  # rows of 61,440 bytes, no padding
expected=$((raster + 54))
limit_kb=$(((raster + 512 * 1024 * 1024) / 1024))
status=0

if [ ! -f "$work/images/.complete-2000" ]; then
  rm -rf "$work/images"
  "$build/tools/tesserix-make-samples" "$work/images" "$work/source.jpg" 2000 >/dev/null
  touch "$work/images/.complete-2000"
fi
echo "pictures: $(find "$work/images" -type f ! -name '.*' | wc -l) in $work/images"

# peak_kb <time -v log>
peak_kb() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }
elapsed() { awk -F'): ' '/Elapsed \(wall clock\)/ { print $2 }' "$1"; }

# check_bmp <file> <what>: size, header and a read back through the batch tool
check_bmp() {
  local file=$1 what=$2 size
  size=$(stat -c %s "$file")
  if [ "$size" -ne "$expected" ]; then
    echo "FAIL $what: $file is $size bytes, not $expected" >&2
    status=1
    return
  fi
  # "BM", file size, pixel offset 54, 40-byte header, 20480 x 20480, 1 plane, 24 bits, no compression
  local header
  header=$(od -An -tx1 -N34 "$file" | tr -d ' \n')
  local want="424d$(printf '%08x' "$expected" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/')00000000360000002800000000500000005000000100180000000000"
  if [ "$header" != "$want" ]; then
    echo "FAIL $what: header $header, expected $want" >&2
    status=1
    return
  fi
  if ! sig=$("$build/tesserix-cli" signature "$file"); then
    echo "FAIL $what: the batch tool cannot read $file back" >&2
    status=1
    return
  fi
  echo "$what: $size bytes, header right, reads back (signature ${sig#"$file "})"
}

# check_peak <time -v log> <what>
check_peak() {
  local kb
  kb=$(peak_kb "$1")
  echo "$2: peak resident memory $((kb / 1024)) MB (limit $((limit_kb / 1024)) MB), wall clock $(elapsed "$1")"
  if [ "$kb" -gt "$limit_kb" ]; then
    echo "FAIL $2: peak memory above the raster plus 512 MB" >&2
    status=1
  fi
}

echo "== batch tool =="
rm -f "$work/cli.bmp"
if /usr/bin/time -v -o "$work/cli.time" "$build/tesserix-cli" make --quiet --seed 1 \
    --source "$work/source.jpg" --images "$work/images" --out "$work/cli.bmp" \
    --rows $rows --cols $cols --cell-width $side --cell-height $side; then
  check_peak "$work/cli.time" "batch tool"
  check_bmp "$work/cli.bmp" "batch tool"
else
  echo "FAIL batch tool: the mosaic was not made" >&2
  status=1
fi
rm -f "$work/cli.bmp"

echo "== desktop program (Xvfb) =="
rm -f "$work/desktop.bmp"
if /usr/bin/time -v -o "$work/desktop.time" xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/bench/bench_gui_load" "$work/source.jpg" "$work/images" $rows $cols $side "$work/desktop.bmp" \
    | tee "$work/desktop.log"; then
  check_peak "$work/desktop.time" "desktop program"
  check_bmp "$work/desktop.bmp" "desktop program"
  for during in render save; do
    gap=$(sed -n "s/.*during the $during: .*longest gap \([0-9]*\) ms/\1/p" "$work/desktop.log")
    if [ -z "$gap" ] || [ "$gap" -gt 100 ]; then
      echo "FAIL desktop program: the event loop stalled for ${gap:-?} ms during the $during" >&2
      status=1
    else
      echo "desktop program: longest event loop gap during the $during ${gap} ms (limit 100 ms)"
    fi
  done
else
  echo "FAIL desktop program: the mosaic was not made" >&2
  status=1
fi
rm -f "$work/desktop.bmp"
exit $status
