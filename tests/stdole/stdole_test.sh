#!/usr/bin/env bash
# stdole_test.sh QUIBREL_TLB SHIPPED_STDOLE TYPELIBS_DIR: the OLE Automation library we build
# from our IDL against the platform's own stdole2.tlb, and against it as the import of every
# real-world library.
#
# 1. dump and json of both: every type (index, kind, name, GUID, flags, sizes), member,
#    DISPID, vtable slot, parameter and default value the same. Ignored, as they cannot be the
#    same: the doc lines of dump and the "doc" and "helpString" fields of json (help strings
#    are our own words), and the library's custom data (widl records its version and the
#    build time there; our build removes it, the platform's library has none).
# 2. Every real-world library dumps the same with our library as its only stdole2.tlb (no copy
#    beside it, no registry, no Wine prefix) as with the platform's copy beside it.
set -u
tlb=$(realpath "$1")
ours=$(realpath "$2")
dir=$3
if [ ! -f "$dir/files/stdole2.tlb" ]; then
  echo "skipped: the real-world libraries are not at $dir"
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QUIBREL_REGISTRY_DIR="$scratch/registry" WINEPREFIX="$scratch/no-wine"
export QUIBREL_DATA_DIR=$(dirname "$ours")
fail=0

"$tlb" dump "$dir/files/stdole2.tlb" | grep -v '^ *doc ' >"$scratch/platform.dump"
"$tlb" dump "$ours" | grep -v '^ *doc ' >"$scratch/ours.dump"
if ! diff "$scratch/platform.dump" "$scratch/ours.dump" >"$scratch/diff"; then
  echo "dump differs from the platform's stdole2.tlb:"; head -n 40 "$scratch/diff"; fail=1
fi
facts='walk(if type == "object" then del(.doc, .helpString) else . end) | del(.library.customData)'
"$tlb" json "$dir/files/stdole2.tlb" | jq -S "$facts" >"$scratch/platform.json"
"$tlb" json "$ours" | jq -S "$facts" >"$scratch/ours.json"
if ! diff "$scratch/platform.json" "$scratch/ours.json" >"$scratch/diff"; then
  echo "json differs from the platform's stdole2.tlb:"; head -n 40 "$scratch/diff"; fail=1
fi

# The libraries in a folder of their own without stdole2.tlb.
mkdir -p "$scratch/alone"
for f in "$dir"/files/*; do
  [ "$(basename "$f")" = stdole2.tlb ] || ln -s "$f" "$scratch/alone/"
done
checked=0 importers=0
for f in "$dir"/files/*; do
  name=$(basename "$f")
  [ "$name" = stdole2.tlb ] && continue
  (cd "$dir/files" && "$tlb" dump "$name") >"$scratch/with" 2>/dev/null
  (cd "$scratch/alone" && "$tlb" dump "$name") >"$scratch/without" 2>"$scratch/err"
  checked=$((checked + 1))
  grep -q "stdole2" "$scratch/err" && { echo "$name: $(cat "$scratch/err")"; fail=1; }
  "$tlb" json "$f" 2>/dev/null | jq -e '.library.imports[]? | select(.recordedName | ascii_downcase | endswith("stdole2.tlb"))' >/dev/null &&
    importers=$((importers + 1))
  if ! cmp -s "$scratch/with" "$scratch/without"; then
    echo "$name dumps differently with the shipped stdole2.tlb:"
    diff "$scratch/with" "$scratch/without" | head -n 10
    fail=1
  fi
done
echo "$checked libraries ($importers import stdole2.tlb) dump the same with the shipped library"
exit $fail
