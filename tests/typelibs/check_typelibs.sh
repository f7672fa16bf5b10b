#!/usr/bin/env bash
# check_typelibs.sh QUIBREL_TLB TYPELIBS_DIR: runs the comparison script that comes with the
# real-world libraries and fails on any file that differs, except on the lines of a file that
# the table below accepts, each for its reason. Any other line that differs fails.
set -u
tlb=$(realpath "$1")
dir=$2
if [ ! -f "$dir/check.sh" ] || [ ! -d "$dir/files" ]; then
  echo "skipped: the real-world libraries are not at $dir"
  exit 77
fi

# Accepted differences: FILE, KIND, why. The kinds (ours against the reference, line by line):
#   doc             the reference has doc "" where we have a doc string: SLTG libraries keep
#                   their doc strings compressed, and the platform does not show them
#   carray-bounds   the same line but for the bounds of a fixed-size array: the platform reads
#                   them 8 bytes past where an SLTG file has them
#   underscore-name a "names" line where we keep a "_" that starts a name and the reference lost
#                   it, and the "param" lines after it: the platform then took the name for one
#                   without a type after it and read the parameter's type from elsewhere
#   skip-types=N,M  the blocks of those types are left out on both sides (judged by hand)
accepted=$(cat <<'TABLE'
stdole32.tlb        carray-bounds    GUID.Data4 is [0:8] in the file; the platform shows [-65519:4718620]
olepro32.dll        doc              "Font Object", "Picture Object"
VBAEN32.OLB         doc              VBA's help texts ("Returns the character code corresponding to ...")
VBAEN32.OLB         underscore-name  _InputB_P1, _Input_P1, _Width_P1 ...: their types are Long and Integer
VBAEND32.OLB        doc              as VBAEN32.OLB
VBAEND32.OLB        underscore-name  as VBAEN32.OLB
VEN2232.OLB         doc              as VBAEN32.OLB
VEN2232.OLB         underscore-name  as VBAEN32.OLB
ir41_32original.dll doc              the Indeo interfaces' help texts ("Sends Sequence data to the codec")
ir41_32original.dll skip-types=2,4   its import C:\WINDOWS\SYSTEM\STDOLE32.TLB, which the platform did not have, is found beside it: the dispatch views of IIndeoDecodeOA and IIndeoEncodeOA show IDispatch and their 59 and 55 functions where the platform shows "?" (tests/sltg checks them)
TABLE
)

# Registrations of the person running the tests must not change which imports are found.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QUIBREL_REGISTRY_DIR="$scratch"
export WINEPREFIX="$scratch/no-wine"
mkdir -p "$scratch/ref"
tar xzf "$dir/reference-dumps.tgz" -C "$scratch/ref"

# The lines of our dump of $1 that differ from the reference and that no accepted kind explains.
unexplained() {
  local name=$1 kinds
  kinds=$(awk -v f="$name" '$1 == f { print $2 }' <<< "$accepted" | tr '\n' ' ')
  # Standard error (an import not found is said there) is no part of the dump.
  (cd "$dir/files" && "$tlb" dump "$dir/files/$name") > "$scratch/ours" 2>/dev/null
  awk -v kinds="$kinds" '
    function keep(line, skip) {  # false inside the block of a skipped type
      if (line ~ /^type /) { split(line, w, " "); skipping = skip != "" && index("," skip ",", "," w[2] ",") > 0 }
      return !skipping
    }
    BEGIN {
      n = split(kinds, k, " ")
      for (i = 1; i <= n; i++) {
        if (k[i] ~ /^skip-types=/) skip = substr(k[i], 12); else ok[k[i]] = 1
      }
    }
    FNR == 1 { file++; skipping = 0 }
    file == 1 && keep($0, skip) { a[++na] = $0 }
    file == 2 && keep($0, skip) { b[++nb] = $0 }
    END {
      if (na != nb) { print "  " na " lines against the reference'"'"'s " nb; exit }
      for (i = 1; i <= na; i++) {
        x = a[i]; y = b[i]
        if (x !~ /^ *param /) inNames = 0
        if (x == y) continue
        if (ok["doc"] && y ~ /^ *doc ""$/ && x ~ /^ *doc ".+"$/ && index(x, "doc") == index(y, "doc")) continue
        if (ok["carray-bounds"]) {
          cx = x; cy = y
          gsub(/CARRAY\[[-0-9:,]*\]/, "CARRAY[]", cx); gsub(/CARRAY\[[-0-9:,]*\]/, "CARRAY[]", cy)
          if (cx == cy) continue
        }
        if (ok["underscore-name"] && x ~ /^ *names / && y ~ /^ *names /) {
          nx = split(x, wx, " "); ny = split(y, wy, " "); same = nx == ny
          for (j = 1; same && j <= nx; j++) same = wx[j] == wy[j] || wx[j] == "_" wy[j]
          if (same) { inNames = 1; continue }
        }
        if (inNames && x ~ /^ *param / && y ~ /^ *param /) continue
        print "  line " i ":\n    ours      " x "\n    reference " y
      }
    }' "$scratch/ours" "$scratch/ref/ref/$name.dump"
}

out=$(bash "$dir/check.sh" "$tlb")
echo "$out" | tail -n 1
status=0
while IFS= read -r line; do
  case "$line" in
    "differs: "*)
      name=${line#differs: }
      name=${name%% (*}
      if awk -v f="$name" '$1 == f { found = 1 } END { exit !found }' <<< "$accepted"; then
        left=$(unexplained "$name")
        if [ -z "$left" ]; then
          echo "accepted: $name differs only as the table says"
        else
          echo "$line; beyond the accepted differences:"
          echo "$left" | head -n 20
          status=1
        fi
      else
        echo "$line"
        status=1
      fi
      ;;
  esac
done <<< "$out"
exit $status
