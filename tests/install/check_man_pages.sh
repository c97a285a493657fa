#!/usr/bin/env bash
# The manual page of tesserix-cli describes every command and every option
# the commands' --help lists, and no option they do not have.
# Usage: check_man_pages.sh <tesserix-cli> <tesserix-cli.1>
set -euo pipefail
cli=$1
page=$2
# the page's text with roff's escaped hyphens and font changes undone
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
commands=$("$cli" --help | awk '/^Subcommands:/ {on = 1; next} on && NF {print $1}')
[ -n "$commands" ] || { echo "no commands in $cli --help" >&2; exit 1; }
status=0
helped=$("$cli" --help | grep -oE -- '--[a-z][a-z0-9-]*' || true)
for c in $commands; do
  if ! grep -qE "^$c( |$)" <<<"$text"; then
    echo "$page: the command '$c' is not described" >&2
    status=1
  fi
  flags=$("$cli" "$c" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
  helped+=$'\n'"$flags"
  for f in $flags; do
    [ "$f" = --help ] && continue
    if ! grep -qE -- "(^|[^a-z-])$f([^a-z-]|$)" <<<"$text"; then
      echo "$page: '$c $f' is not described" >&2
      status=1
    fi
  done
done
for f in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$text" | sort -u); do
  if ! grep -qx -- "$f" <<<"$helped"; then
    echo "$page: describes '$f', which no command has" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "the manual page describes every command and option of $cli"
exit $status
