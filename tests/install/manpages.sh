#!/usr/bin/env bash
# The manual pages render without a warning: groff with every warning on,
# and mandoc's linter where it is installed.
# manpages.sh PAGE...
set -uo pipefail

if ! command -v groff >/dev/null; then
  echo "groff is not installed (Debian package groff-base)"
  exit 77
fi
status=0
for page in "$@"; do
  out=$(groff -man -ww -z "$page" 2>&1)
  if [ $? -ne 0 ] || [ -n "$out" ]; then
    printf 'groff: %s\n%s\n' "$page" "$out" >&2
    status=1
  fi
  if command -v mandoc >/dev/null; then
    if ! out=$(mandoc -Tlint -Wwarning "$page" 2>&1) || [ -n "$out" ]; then
      printf 'mandoc: %s\n%s\n' "$page" "$out" >&2
      status=1
    fi
  fi
done
exit $status
