#!/usr/bin/env bash
# Fuzzes the library loader: run.sh [SECONDS] (default 60) [extra libFuzzer flags...]
# FUZZ_TARGET=fuzz_browse fuzzes the main window above the loader instead (fuzz_browse.cpp);
# FUZZ_TARGET=fuzz_writers the IDL and JSON writers and the index cache (fuzz_writers.cpp).
# Builds the fuzz target with clang into BUILD_DIR (default build-fuzz), seeds a corpus from our
# fixtures and a sample of ../shared/typelibs/files (when present; read here, never committed)
# and runs. Inputs that crash are written to BUILD_DIR/fuzz-findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
secs=${1:-60}
target=${FUZZ_TARGET:-fuzz_load}
shift || true
typelibs=$root/../shared/typelibs/files

CC=clang CXX=clang++ CMAKE_ARGS="-DQUIBREL_FUZZ=ON -DQUIBREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}" \
  BUILD_DIR=$build "$root/scripts/build.sh" --target "$target" fixtures

# Each target keeps a corpus of its own; seeds and findings are per target too, so both can run at once.
suffix=; [ "$target" = fuzz_load ] || suffix=-${target#fuzz_}
corpus=$build/fuzz-corpus$suffix
seeds=$build/fuzz-seeds$suffix
beside=$build/fuzz-beside$suffix
findings=$build/fuzz-findings$suffix
mkdir -p "$corpus" "$findings"
rm -rf "$seeds" "$beside"
mkdir -p "$seeds" "$beside"
fx=$build/fixtures
for f in "$fx"/*.tlb "$fx"/*.dll "$fx"/win32/*.tlb "$fx"/win32/*.dll; do
  cp "$f" "$seeds/$(basename "$(dirname "$f")")-$(basename "$f")"
done
cp "$fx/QuibrelShared.tlb" "$beside/"
if [ -d "$typelibs" ]; then
  # Imports the real libraries name most often, beside every input.
  for f in stdole2.tlb stdole32.tlb; do [ -f "$typelibs/$f" ] && cp "$typelibs/$f" "$beside/"; done
  # Every SLTG library, then a spread of the small and middle-sized MSFT ones.
  for f in stdole32.tlb olepro32.dll VBAEN32.OLB VBAEND32.OLB VEN2232.OLB ir41_32original.dll; do
    [ -f "$typelibs/$f" ] && cp "$typelibs/$f" "$seeds/real-$f"
  done
  find "$typelibs" -type f -size -160k | sort | awk 'NR % 4 == 1' | head -60 | while read -r f; do
    cp "$f" "$seeds/real-$(basename "$f")"
  done
fi
# The writers' target also takes cache files: it writes the cache form of the seed libraries.
cacheseeds=; [ "$target" = fuzz_writers ] && cacheseeds=$seeds
echo "seeds: $(ls "$seeds" | wc -l), corpus: $(ls "$corpus" | wc -l), running ${secs}s"
QUIBREL_FUZZ_CACHE_SEEDS=$cacheseeds QUIBREL_FUZZ_BESIDE=$beside "$build/tests/fuzz/$target" "$corpus" "$seeds" \
  -max_total_time="$secs" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$findings/" -print_final_stats=1 "$@"
