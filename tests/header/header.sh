#!/usr/bin/env bash
# header.sh QUIBREL_TLB HEADER_LAYOUT WORKDIR LIBRARY...: for each library, its header compiles
# with MinGW-w64's C and C++ compilers alone and after <windows.h> and <ole2.h>, and the
# layout program (every vtable slot, record field and size as the library gives them) compiles
# with the compiler of the library's pointer size. With WIDL_CHECK=1 the Vtbl method order of
# the fixtures' IDL sources is compared with widl's own header. JOBS=N runs N libraries at a
# time. Prints one line per library that fails, then the counts per configuration; failures
# that limits.txt explains are listed but do not fail the test.
set -u
tlb=$1 layout=$2 work=$3
shift 3
mkdir -p "$work"
: "${CC64:=x86_64-w64-mingw32-gcc}" "${CXX64:=x86_64-w64-mingw32-g++}"
: "${CC32:=i686-w64-mingw32-gcc}" "${CXX32:=i686-w64-mingw32-g++}"
export tlb layout work CC64 CXX64 CC32 CXX32

# The platform's headers, precompiled once per language: most of the time a header takes to
# compile after them is theirs.
mkdir -p "$work/pch-c" "$work/pch-c++"
printf '#include <windows.h>\n#include <ole2.h>\n' >"$work/pch-c/system.h"
cp "$work/pch-c/system.h" "$work/pch-c++/system.h"
"$CC64" -x c-header "$work/pch-c/system.h" -o "$work/pch-c/system.h.gch" &&
  "$CXX64" -x c++-header "$work/pch-c++/system.h" -o "$work/pch-c++/system.h.gch" ||
  { echo "FAIL: the platform's headers do not compile"; exit 1; }

one() {
  lib=$1
  base=$(basename "$lib" | tr -c 'A-Za-z0-9._\n-' '_')
  d="$work/$(printf '%s' "$lib" | md5sum | cut -c1-8)-$base"
  mkdir -p "$d"
  if ! "$tlb" header "$lib" --output "$d/lib.h" 2>"$d/header.err"; then
    echo "FAIL $lib header: $(head -c 200 "$d/header.err")"
    return
  fi
  # The layout of 32-bit libraries with the 32-bit compiler, of the others with the 64-bit one.
  if grep -q '^/\* C and C++ declarations of type library .*, Win64 \*/$' "$d/lib.h"; then
    cc=$CC64
  else
    cc=$CC32
  fi
  printf '#include "lib.h"\n' >"$d/alone.c"
  printf '#include "system.h"\n#include "lib.h"\n' >"$d/system.c"
  local result="" ok=1
  for cfg in c-alone c++-alone c-system c++-system; do
    case $cfg in
      c-*) comp=$CC64 lang=c ;;
      c++-*) comp=$CXX64 lang=c++ ;;
    esac
    src=$d/${cfg#*-}.c
    if "$comp" -x "$lang" -fsyntax-only -I "$work/pch-$lang" -I "$d" "$src" 2>"$d/$cfg.err"; then
      result+=" $cfg=ok"
    else
      result+=" $cfg=FAIL"
      ok=0
      echo "FAIL $lib $cfg: $(grep -m1 -E 'error' "$d/$cfg.err" | sed "s|$d/||g")"
    fi
  done
  if "$layout" "$lib" "$d/lib.h" >"$d/layout.c" 2>"$d/layout.err" &&
     "$cc" -x c -fsyntax-only -I "$d" "$d/layout.c" 2>"$d/layout-c.err"; then
    result+=" layout=ok"
  else
    result+=" layout=FAIL"
    echo "FAIL $lib layout: $(grep -m1 -E 'error' "$d/layout-c.err" "$d/layout.err" 2>/dev/null | sed "s|$d/||g")"
  fi
  echo "RESULT $lib$result"
}
export -f one

printf '%s\n' "$@" | xargs -P "${JOBS:-2}" -I{} bash -c 'one "$1"' _ {} >"$work/results.txt"
grep '^FAIL' "$work/results.txt" | sort
# A failure that limits.txt lists and explains does not fail the test.
limits=$(dirname "$0")/limits.txt
status=0
for cfg in c-alone c++-alone c-system c++-system layout; do
  n=$(grep -c " $cfg=ok" "$work/results.txt")
  echo "$cfg: $n of $# libraries"
  while read -r line; do
    lib=$(basename "$(awk '{print $2}' <<<"$line")")
    if grep -q "^$lib $cfg " "$limits"; then
      echo "  known: $lib $cfg: $(grep "^$lib $cfg " "$limits" | cut -d' ' -f3-)"
    else
      status=1
    fi
  done < <(grep '^RESULT' "$work/results.txt" | grep " $cfg=FAIL")
done
[ "$(grep -c '^RESULT' "$work/results.txt")" -eq "$#" ] || status=1

# The Vtbl method order of each fixture source against the header widl writes from it.
if [ "${WIDL_CHECK:-0}" = 1 ]; then
  for idl in QuibrelShared QuibrelTest QuibrelEvents QuibrelExtras QuibrelJson; do
    "$WIDL" --nostdinc -I "$IDL_DIR" -L "$(dirname "$4")/stdole" -h --win64 -o "$work/$idl.widl.h" "$IDL_DIR/$idl.idl" 2>"$work/$idl.widl.err" ||
      { echo "FAIL widl -h $idl: $(head -c 200 "$work/$idl.widl.err")"; status=1; continue; }
    lib=""
    for l in "$@"; do [ "$(basename "$l")" = "$idl.tlb" ] && [ -z "$lib" ] && lib=$l; done
    d="$work/$(printf '%s' "$lib" | md5sum | cut -c1-8)-$idl.tlb"
    if ! python3 "$(dirname "$0")/vtblorder.py" "$work/$idl.widl.h" "$d/lib.h"; then
      echo "FAIL $idl: Vtbl order differs from widl's"
      status=1
    fi
  done
fi
exit $status
