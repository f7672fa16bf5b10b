#!/usr/bin/env bash
# damaged.sh QUIBREL_TLB WORKDIR DIR...: the header of every damaged library in DIRs is
# written or refused with a status, never a crash or a hang; --output replaces a file whole
# or leaves it as it was.
set -u
tlb=$1 work=$2
shift 2
mkdir -p "$work"
status=0
for dir in "$@"; do
  [ -d "$dir" ] || continue
  for f in "$dir"/*; do
    case $f in *.stderr|*.py|*.md) continue ;; esac
    timeout 20 "$tlb" header "$f" >"$work/out.h" 2>"$work/err.txt"
    rc=$?
    if [ $rc -ne 0 ] && [ $rc -ne 1 ]; then
      echo "FAIL $f: exit status $rc"
      status=1
    fi
  done
done
# --output: a failed write leaves the previous file; a good one replaces it.
echo previous >"$work/kept.h"
"$tlb" header "$work/no-such-library.tlb" --output "$work/kept.h" 2>/dev/null
[ "$(cat "$work/kept.h")" = previous ] || { echo "FAIL: a failed header replaced the output"; status=1; }
exit $status
