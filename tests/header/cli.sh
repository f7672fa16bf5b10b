#!/usr/bin/env bash
# cli.sh QUIBREL_TLB WORKDIR LIBRARY DIR...: the header of every damaged library in DIRs is
# written or refused with a status, never a crash or a hang; --output replaces a file with
# LIBRARY's header, and a write that fails leaves nothing behind; the header of some of
# LIBRARY's types (an interface deriving from another, a record of records) compiles alone.
set -u
tlb=$1 work=$2 good=$3
: "${CC64:=x86_64-w64-mingw32-gcc}" "${CXX64:=x86_64-w64-mingw32-g++}"
shift 3
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
    # Names that carry line breaks and preprocessor text stay names: the header compiles.
    case $f in
      *inject*)
        printf '#include "out.h"\n' >"$work/out.c"
        "${CC64:-x86_64-w64-mingw32-gcc}" -x c -fsyntax-only "$work/out.c" &&
          "${CXX64:-x86_64-w64-mingw32-g++}" -x c++ -fsyntax-only "$work/out.c" ||
          { echo "FAIL $f: its header does not compile"; status=1; }
        ;;
    esac
  done
done
# --output: the file is replaced by the header, exactly what standard output gets.
echo previous >"$work/replaced.h"
"$tlb" header "$good" --output "$work/replaced.h" && "$tlb" header "$good" >"$work/stdout.h" &&
  cmp -s "$work/replaced.h" "$work/stdout.h" || { echo "FAIL: --output did not replace the file"; status=1; }
# A folder that does not exist: status 1, the message, and no file.
rm -rf "$work/missing"
msg=$("$tlb" header "$good" --output "$work/missing/x.h" 2>&1)
[ $? -eq 1 ] && [[ $msg == "Cannot create file"* ]] && [ ! -e "$work/missing" ] ||
  { echo "FAIL: a write that cannot be done: $msg"; status=1; }
# Named types only: what they need comes with them.
if ! "$tlb" header "$good" iderived SHAPE --output "$work/some.h"; then
  echo "FAIL: the header of named types"; status=1
elif ! grep -q "^struct IDerived : public IBase$" "$work/some.h" || grep -q "IShapes" "$work/some.h"; then
  echo "FAIL: the header of IDerived and Shape has other types or lacks them"; status=1
else
  printf '#include "some.h"\n' >"$work/some.c"
  "$CC64" -x c -fsyntax-only "$work/some.c" && "$CXX64" -x c++ -fsyntax-only "$work/some.c" ||
    { echo "FAIL: the header of named types does not compile"; status=1; }
fi
"$tlb" header "$good" NoSuchType >/dev/null 2>"$work/err.txt"
[ $? -eq 1 ] && grep -q "^no type NoSuchType in " "$work/err.txt" || { echo "FAIL: an unknown type"; status=1; }
exit $status
