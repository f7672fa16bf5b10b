#!/usr/bin/env bash
# limits.sh WIDL TLBFACTS LIMITS WORKDIR
#
# Proves every entry of LIMITS by its minimal case: the case is compiled with widl, which must
# show itself doing what the entry says. Entries start at the beginning of a line:
#   reject NAME REGEX   widl refuses IDL we write, with an error line matching REGEX
#   ignore NAME         a difference tlbfacts --ignore NAME leaves out
# and the lines of its case are indented beneath it:
#   idl TEXT            a line of the case, lib.idl
#   helper FILE TEXT    a line of FILE.idl, a library compiled to FILE.tlb beside the case first
#                       (for cases that import libraries)
#   shows REGEX         (ignore) a line of tlbfacts of the compiled case matches REGEX
#   refused REGEX       (ignore) widl refuses the case, with an error line matching REGEX
#   writer TEXT         not widl's: our IDL writer can avoid the difference (TEXT says how);
#                       tolerated until the writer is mended, and reported apart
# A reject entry's case must be refused with an error matching the entry's REGEX.
# Prints "proven ignore|reject NAME [writer]" for each entry proven and "unproven NAME: why" for
# the others; exits 1 when any entry is unproven (or has no case).
set -u
widl=$1; facts=$2; limits=$3; work=$4
mkdir -p "$work"

status=0
kind=""; name=""; regex=""; writer=""; shows=(); refused=""; has_case=0

# Runs widl; a crash, which prints no error of widl's own, is reported as an error line.
run_widl() { "$widl" "$@"; local rc=$?; [ "$rc" -gt 128 ] && echo "error: widl crashed (signal $((rc - 128)))"; return "$rc"; }

# The first error widl reports, as roundtrip.sh matches it.
first_error() { grep -m1 -E "error" "$1" || head -n1 "$1"; }

prove() {
  [ -n "$name" ] || return 0
  local dir="$work/$name" why=""
  if [ "$has_case" = 0 ]; then
    why="no minimal case"
  elif [ "$kind" = ignore ] && [ ${#shows[@]} -eq 0 ] && [ -z "$refused" ]; then
    why="no 'shows' or 'refused' line"
  else
    local h ok=1
    for h in "$dir"/*.idl; do
      [ "$(basename "$h")" = lib.idl ] && continue
      [ -e "$h" ] || continue
      if ! (cd "$dir" && run_widl --nostdinc -t --win32 -L . -o "$(basename "${h%.idl}").tlb" "$(basename "$h")") \
           >"$h.out" 2>&1; then
        why="helper $(basename "$h") does not compile: $(first_error "$h.out")"; ok=0; break
      fi
    done
    if [ "$ok" = 1 ]; then
      local expect_refusal=$regex
      [ "$kind" = ignore ] && expect_refusal=$refused
      if (cd "$dir" && run_widl --nostdinc -t --win32 -L . -o lib.tlb lib.idl) >"$dir/widl.out" 2>&1; then
        if [ -n "$expect_refusal" ]; then
          why="widl compiles the case"
        else
          "$facts" "$dir/lib.tlb" >"$dir/lib.facts" 2>&1
          local s
          for s in "${shows[@]}"; do
            grep -qE -- "$s" "$dir/lib.facts" || { why="no fact of the compiled case matches: $s"; break; }
          done
        fi
      else
        local err; err=$(first_error "$dir/widl.out")
        if [ -z "$expect_refusal" ]; then
          why="widl refuses the case: $err"
        elif ! echo "$err" | grep -qE -- "$expect_refusal"; then
          why="widl refuses the case otherwise: $err"
        fi
      fi
    fi
  fi
  if [ -n "$why" ]; then
    echo "unproven $name: $why"
    status=1
  else
    echo "proven $kind $name${writer:+ writer}"
  fi
}

while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    reject\ *|ignore\ *)
      prove
      read -r kind name regex <<<"$line"
      writer=""; shows=(); refused=""; has_case=0
      rm -rf "${work:?}/$name"; mkdir -p "$work/$name" ;;
    [[:space:]]*[![:space:]]*)
      [ -n "$name" ] || continue
      read -r key rest <<<"$line"
      case "$key" in
        idl) printf '%s\n' "$rest" >>"$work/$name/lib.idl"; has_case=1 ;;
        helper) read -r file text <<<"$rest"; printf '%s\n' "$text" >>"$work/$name/$file.idl" ;;
        shows) shows+=("$rest") ;;
        refused) refused=$rest ;;
        writer) writer=$rest ;;
        *) echo "unproven $name: unknown line: $line"; status=1 ;;
      esac ;;
  esac
done <"$limits"
prove
exit "$status"
