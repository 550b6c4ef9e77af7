#!/bin/sh
# check-man-options.sh PROGRAM PAGE: every --option that PROGRAM's --help
# names appears in the man page PAGE as man renders it.
set -eu
program=$1
page=$2
command -v man >/dev/null || { echo "man is not installed (apt-get install man-db)" >&2; exit 1; }
[ -r "$page" ] || { echo "no man page $page: build the kc_doc target" >&2; exit 1; }

options=$("$program" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
[ -n "$options" ] || { echo "$program --help names no options" >&2; exit 1; }
# One paragraph a line, no hyphenation, plain ASCII: options are never split.
rendered=$(LC_ALL=C MANWIDTH=2000 man --nh --nj -P cat -l "$page" | sed 's/.\x08//g')

missing=0
for option in $options; do
  if ! printf '%s\n' "$rendered" | grep -q -e "$option\([^a-z0-9-]\|\$\)"; then
    echo "$option is in $program --help but not in its man page $page" >&2
    missing=1
  fi
done
exit $missing
