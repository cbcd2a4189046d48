#!/usr/bin/env bash
# Builds the libFuzzer targets of the project reader, the update manifest parser, the host-state chunk
# decoder and the SVG icon reader (clang, ASan + UBSan), replays the committed corpus, then fuzzes each
# target for at most 30 s in a scratch copy of its corpus.
# Exits non-zero on any crash. Regenerate the project reader's seeds with:
# build-fuzz/tests/fuzz/make_project_seeds tests/fuzz/corpus/<target>, the decoder's with
# build-fuzz/tests/fuzz/make_dawstate_seeds tests/fuzz/corpus/dawstate_chunk_fuzz; the manifest and SVG
# seeds are written by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
seconds=${CV_FUZZ_SECONDS:-30}
targets=(project_reader_repaired_fuzz project_reader_raw_fuzz update_manifest_fuzz dawstate_chunk_fuzz svg_reader_fuzz)

cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCV_BUILD_FUZZ=ON -DCV_SANITIZE=address -DCV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-fuzz" -j "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$root/build-fuzz/artifacts"

for target in "${targets[@]}"; do
  binary="$root/build-fuzz/tests/fuzz/$target"
  corpus="$root/tests/fuzz/corpus/$target"
  echo "== $target: replaying $(ls "$corpus" | wc -l) corpus files"
  "$binary" -runs=0 "$corpus"
  echo "== $target: fuzzing for ${seconds} s"
  mkdir -p "$scratch/$target"
  cp "$corpus"/* "$scratch/$target/"
  log="$root/build-fuzz/$target.log"
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$root/build-fuzz/artifacts/$target-" -print_final_stats=1 "$scratch/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "== $target: FAILED (artifacts in build-fuzz/artifacts)"
    exit 1
  fi
  echo "== $target: $(grep -m1 -E '^Done [0-9]+ runs' "$log" || echo 'done'), no crash"
done
