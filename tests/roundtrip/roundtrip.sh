#!/usr/bin/env bash
# roundtrip.sh QUIBREL_TLB TLBFACTS WIDL LIMITS WORKDIR FILE...
#
# For each library: writes its IDL (quibrel-tlb idl), compiles it with widl (-t, --win32 or
# --win64 as the library's syskind says, imports looked for beside the library) and compares
# the rebuilt library with the original: `quibrel-tlb dump` and tlbfacts, which prints every
# field the service gives (help contexts, custom data, vtable offsets, default values, calling
# conventions, record sizes ...).
#
# LIMITS lists what widl is known not to reproduce or to refuse, each explained there:
#   reject NAME REGEX   widl refuses IDL we wrote, with an error line matching REGEX
#   ignore NAME         a difference tlbfacts --ignore NAME leaves out
# Only limits that limits.sh proves by their minimal cases are applied; an unproven one fails
# the run. A library is "identical" when nothing differs but widl's own stamp, "limited" when
# it differs only by listed limits, and a failure otherwise. The limits a library needs are
# those without which a difference shows (each left out of the ignored ones in turn); entries
# marked "writer" are differences of our writer, tolerated and counted apart. Libraries named
# in pending.txt (beside this script) differ in ways not explained yet: they are reported, not
# failed. Ends with a table: each limit, the libraries it explains. Exits 1 on any failure.
# With REQUIRE_IDENTICAL set, a library that is not identical is a failure.
# JOBS (default 2) libraries are compared at a time; LIBDIRS (colon-separated) are folders
# where widl looks for imported libraries after the library's own.
set -u
tlb=$1; facts=$2; widl=$3; limits=$4; work=$5
shift 5
mkdir -p "$work"
# Registrations of the person running the tests must not change which imports are found.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QUIBREL_REGISTRY_DIR="$scratch"
export WINEPREFIX="$scratch/no-wine"
jobs=${JOBS:-2}
start=$(date +%s)
here=$(cd "$(dirname "$0")" && pwd)

# The limits proven by their minimal cases; only those are applied.
bash "$here/limits.sh" "$widl" "$facts" "$limits" "$work/limit-cases" >"$work/limits.proven"
unproven=$(grep '^unproven ' "$work/limits.proven")
export PROVEN_IGNORE PROVEN_REJECT
PROVEN_IGNORE=$(awk '$1 == "proven" && $2 == "ignore" {print $3}' "$work/limits.proven" | paste -sd, -)
PROVEN_REJECT=" $(awk '$1 == "proven" && $2 == "reject" {print $3}' "$work/limits.proven" | tr '\n' ' ') "
export WRITER_LIMITS
WRITER_LIMITS=" $(awk '$1 == "proven" && $4 == "writer" {print $3}' "$work/limits.proven" | tr '\n' ' ') "

# Runs widl; a crash, which prints no error of widl's own, is reported as an error line.
run_widl() { "$widl" "$@"; local rc=$?; [ "$rc" -gt 128 ] && echo "error: widl crashed (signal $((rc - 128)))"; return "$rc"; }
export -f run_widl

one() {
  local file=$1 tlb=$2 facts=$3 widl=$4 limits=$5 work=$6
  local base; base=$(basename "$file")
  local dir; dir="$work/$(echo "$file" | tr '/' '_')"
  local libdir; libdir=$(cd "$(dirname "$file")" && pwd)
  rm -rf "$dir"; mkdir -p "$dir"
  local result="$dir/result"
  # The original and the rebuilt library are read with the same imported libraries beside them:
  # those the original finds, else those in LIBDIRS, under the names the library recorded.
  mkdir -p "$dir/orig"
  cp "$file" "$dir/orig/$base"
  local rec found d
  IFS=: read -ra dirs <<<"${LIBDIRS:-}"
  while IFS=$'\t' read -r rec found; do
    if [ -z "$found" ] || [ ! -f "$found" ]; then
      found=""
      for d in "${dirs[@]}"; do
        [ -n "$d" ] && [ -f "$d/${rec##*[\\/]}" ] && { found="$d/${rec##*[\\/]}"; break; }
      done
      [ -n "$found" ] || continue
    fi
    for d in "$dir" "$dir/orig"; do
      ln -sf "$found" "$d/$rec" 2>/dev/null
      ln -sf "$found" "$d/${rec##*[\\/]}" 2>/dev/null
    done
  done < <("$facts" "$file" --imports 2>/dev/null)
  file="$dir/orig/$base"
  # The IDL is written from there, so that the writer sees the imports widl is given.
  if ! "$tlb" idl "$file" --output "$dir/lib.idl" 2>"$dir/idl.err"; then
    echo "fail $base idl: $(head -n1 "$dir/idl.err")" >"$result"; return
  fi
  "$facts" "$file" >"$dir/orig.facts" 2>/dev/null || { echo "fail $base facts of the original" >"$result"; return; }
  local sys; sys=$(head -n1 "$dir/orig.facts" | sed -n 's/.* sys=\([0-9]*\).*/\1/p')
  local arch=--win32
  [ "$sys" = 3 ] && arch=--win64
  local extra=()
  local d
  IFS=: read -ra dirs <<<"${LIBDIRS:-}"
  for d in "${dirs[@]}"; do [ -n "$d" ] && extra+=(-L "$d"); done
  if ! (cd "$dir" && run_widl --nostdinc -t $arch -L "$dir" -L "$libdir" "${extra[@]}" -o rebuilt.tlb lib.idl) >"$dir/widl.out" 2>&1; then
    local err; err=$(grep -m1 -E "error" "$dir/widl.out" || head -n1 "$dir/widl.out")
    while read -r kind name regex; do
      [ "$kind" = reject ] && [[ "$PROVEN_REJECT" == *" $name "* ]] || continue
      if echo "$err" | grep -qE -- "$regex"; then
        echo "rejected $base $name: $err" >"$result"; return
      fi
    done < <(grep -E '^reject ' "$limits")
    echo "fail $base widl: $err" >"$result"; return
  fi
  "$tlb" dump "$file" >"$dir/orig.dump" 2>&1
  "$tlb" dump "$dir/rebuilt.tlb" >"$dir/rebuilt.dump" 2>&1
  "$facts" "$dir/rebuilt.tlb" --rebuilt >"$dir/rebuilt.facts" 2>/dev/null
  if cmp -s "$dir/orig.dump" "$dir/rebuilt.dump" && cmp -s "$dir/orig.facts" "$dir/rebuilt.facts"; then
    echo "identical $base" >"$result"; return
  fi
  local all=$PROVEN_IGNORE
  # widl stamps every library it writes: a library that differs by that alone comes back the same.
  if [[ ",$all," == *",compiler-stamps,"* ]] &&
     cmp -s <("$facts" "$file" --ignore compiler-stamps 2>/dev/null) \
            <("$facts" "$dir/rebuilt.tlb" --rebuilt --ignore compiler-stamps 2>/dev/null); then
    echo "identical $base" >"$result"; return
  fi
  "$facts" "$file" --ignore "$all" >"$dir/orig.lim" 2>/dev/null
  "$facts" "$dir/rebuilt.tlb" --rebuilt --ignore "$all" >"$dir/rebuilt.lim" 2>/dev/null
  if ! cmp -s "$dir/orig.lim" "$dir/rebuilt.lim"; then
    diff "$dir/orig.lim" "$dir/rebuilt.lim" >"$dir/diff"
    echo "fail $base differs: $(grep -m1 '^[<>]' "$dir/diff")" >"$result"; return
  fi
  # Whether the two compare the same with the limits named in $1 (space-separated) ignored.
  same() {
    local ign=${1# }; ign=${ign// /,}
    cmp -s <("$facts" "$file" --ignore "${ign:-none}" 2>/dev/null) \
           <("$facts" "$dir/rebuilt.tlb" --rebuilt --ignore "${ign:-none}" 2>/dev/null)
  }
  # Which limits it needs: those without which a difference shows (all others ignored), from
  # one run of tlbfacts a side that prints the facts so for each limit in turn.
  local needed="" name side
  for side in orig rebuilt; do
    mkdir -p "$dir/each.$side"
    if [ "$side" = orig ]; then "$facts" "$file" --ignore-each "$all"; else "$facts" "$dir/rebuilt.tlb" --rebuilt --ignore-each "$all"; fi \
      2>/dev/null | awk -v d="$dir/each.$side" '/^=== /{ close(f); f = d "/" $2; printf "" > f; next } { print > f }'
  done
  for name in ${all//,/ }; do
    cmp -s "$dir/each.orig/$name" "$dir/each.rebuilt/$name" || needed="$needed $name"
  done
  # Those must explain it together. Where they do not, limits overlap (each hides a difference
  # another hides too): the first that explains the rest is charged, our writer's choices
  # before widl's limits, and the library is marked "+overlap". Where no single one does, they
  # are taken in that order until they do (the step below leaves out those not needed).
  if ! same "$needed"; then
    local extra="" acc=$needed ordered="" w
    for w in 1 0; do
      for name in ${all//,/ }; do
        local is_writer=0; [[ "$WRITER_LIMITS" == *" $name "* ]] && is_writer=1
        [ "$is_writer" = "$w" ] && ordered="$ordered $name"
      done
    done
    for name in $ordered; do
      [[ " $needed " == *" $name "* ]] && continue
      if same "$needed $name"; then extra=$name; break; fi
    done
    if [ -z "$extra" ]; then
      for name in $ordered; do
        [[ " $acc " == *" $name "* ]] && continue
        acc="$acc $name"
        if same "$acc"; then extra=${acc#"$needed" }; break; fi
      done
    fi
    needed="$needed ${extra:-?} +overlap"
  fi
  # Limits that hide a difference only one side shows when others are ignored are not needed:
  # each is left out in turn where the others kept still explain the difference.
  if [[ "$needed" != *"?"* ]]; then
    local -a cand=() keep=()
    local i j rest
    read -ra cand <<<"${needed% +overlap}"
    for ((i = 0; i < ${#cand[@]}; i++)); do
      rest="${keep[*]} ${cand[*]:i+1}"
      same "$rest" || keep+=("${cand[i]}")
    done
    [[ "$needed" == *" +overlap" ]] && keep+=(+overlap)
    needed=" ${keep[*]}"
    [ "$needed" = " " ] && needed=""
  fi
  if [ -z "$needed" ] || [ "$needed" = " compiler-stamps" ]; then
    echo "identical $base" >"$result"
  else
    echo "limited $base${needed}" >"$result"
  fi
}
export -f one

printf '%s\n' "$@" | nice -n 10 xargs -P "$jobs" -I{} bash -c 'one "$@"' _ {} "$tlb" "$facts" "$widl" "$limits" "$work"

pending_list=" $(grep -v '^#' "$here/pending.txt" 2>/dev/null | awk '{print $1}' | tr '\n' ' ') "
total=0; identical=0; limited=0; by_writer=0; rejected=0; failed=0; pending=0
declare -A explains=() alone=()
for file in "$@"; do
  r=$(cat "$work/$(echo "$file" | tr '/' '_')/result" 2>/dev/null || echo "fail $(basename "$file") no result")
  total=$((total + 1))
  set -- $r
  case "$1" in
    identical) identical=$((identical + 1)) ;;
    limited)
      shift 2
      writer=0; widl_needs=()
      for l in "$@"; do
        explains[$l]=$(( ${explains[$l]:-0} + 1 ))
        [[ "$WRITER_LIMITS" == *" $l "* ]] && writer=1
        [ "$l" != compiler-stamps ] && [ "$l" != +overlap ] && [ "$l" != "?" ] && widl_needs+=("$l")
      done
      [ "${#widl_needs[@]}" = 1 ] && alone[${widl_needs[0]}]=$(( ${alone[${widl_needs[0]}]:-0} + 1 ))
      if [ "$writer" = 1 ]; then by_writer=$((by_writer + 1)); else limited=$((limited + 1)); fi ;;
    rejected) rejected=$((rejected + 1)); l=${3%:}; explains[$l]=$(( ${explains[$l]:-0} + 1 )); alone[$l]=$(( ${alone[$l]:-0} + 1 )) ;;
    *)
      if [[ "$pending_list" == *" $2 "* ]]; then
        pending=$((pending + 1)); echo "pending: $r"
      else
        failed=$((failed + 1)); echo "$r"
      fi ;;
  esac
done
[ -n "$unproven" ] && echo "$unproven"
compiled=$((identical + limited + by_writer))
echo "libraries $total: compiled by widl $compiled, identical $identical, differing only by listed limits $limited, differing also by the writer's tolerated choices $by_writer, rejected by widl for a listed limit $rejected, pending (not explained yet) $pending, failed $failed ($(( $(date +%s) - start )) s)"
# Each limit with the libraries it explains: those that differ without it (or, for a refusal,
# that widl refused so), and of those the ones it explains alone (besides widl's stamp).
printf '  %-28s %-7s %-7s %9s %6s\n' limit kind who libraries alone
while read -r _ kind name mark; do
  printf '  %-28s %-7s %-7s %9s %6s\n' "$name" "$kind" "${mark:-widl}" "${explains[$name]:-0}" "${alone[$name]:-0}"
done < <(grep '^proven ' "$work/limits.proven")
[ -n "${explains[+overlap]:-}" ] &&
  echo "  overlap: ${explains[+overlap]} libraries where limits hide the same difference, charged to the first that explains it (the writer's first)"
if [ -n "${REQUIRE_IDENTICAL:-}" ] && [ "$identical" -ne "$total" ]; then
  echo "not identical: $((total - identical)) of $total libraries"
  grep -hv '^identical ' "$work"/*/result
  exit 1
fi
[ "$failed" -eq 0 ] && [ -z "$unproven" ]
