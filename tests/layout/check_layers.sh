#!/usr/bin/env bash
# The top-level folders form layers: a file may include files of its own
# folder and of the folders below it, never of a folder that includes it
# back. Prints each pair of folders that include each other and fails.
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
folders=(raster imageio engine widgets wizard app cli)
edges=$(for d in "${folders[@]}"; do
  grep -rhoE '^#include "[a-z_]+/' "$d" --include='*.cpp' --include='*.h' 2>/dev/null |
    sed -E 's/#include "([a-z_]+)\//\1/' | sort -u | sed "s/^/$d /"
done)
status=0
while read -r from to; do
  [ "$from" = "$to" ] && continue
  if grep -qx "$to $from" <<<"$edges"; then
    echo "$from and $to include each other"
    status=1
  fi
done <<<"$edges"
[ $status -eq 0 ] && echo "no two folders include each other"
exit $status
