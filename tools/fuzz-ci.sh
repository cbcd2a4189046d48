#!/usr/bin/env bash
# Builds the libFuzzer targets of the project reader, the update manifest parser, the host-state chunk
# decoder, the SVG icon reader, the edit-script parser, the audio header's length reader and the
# preferences reader (clang, ASan + UBSan), replays the committed corpus, then fuzzes each target for at
# most 30 s in a scratch copy of its corpus, as many at once as there are cores.
# Exits non-zero on any crash. Regenerate the project reader's seeds with:
# build-fuzz/tests/fuzz/make_project_seeds tests/fuzz/corpus/<target>, the decoder's with
# build-fuzz/tests/fuzz/make_dawstate_seeds tests/fuzz/corpus/dawstate_chunk_fuzz; the manifest, SVG,
# edit-script, audio header and preferences seeds are written by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
seconds=${CV_FUZZ_SECONDS:-30}
targets=(project_reader_repaired_fuzz project_reader_raw_fuzz update_manifest_fuzz dawstate_chunk_fuzz
  svg_reader_fuzz edit_script_fuzz prefs_values_fuzz declared_frames_fuzz)

cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCV_BUILD_FUZZ=ON -DCV_SANITIZE=address -DCV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-fuzz" -j "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$root/build-fuzz/artifacts"

# Replays the corpus, then fuzzes one target; its output goes to its log, a summary line to stdout.
fuzz_one() {
  local target=$1
  local binary="$root/build-fuzz/tests/fuzz/$target"
  local corpus="$root/tests/fuzz/corpus/$target"
  local log="$root/build-fuzz/$target.log"
  mkdir -p "$scratch/$target"
  cp "$corpus"/* "$scratch/$target/"
  if ! "$binary" -runs=0 "$corpus" >"$log" 2>&1 ||
    ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$root/build-fuzz/artifacts/$target-" -print_final_stats=1 "$scratch/$target" >>"$log" 2>&1; then
    tail -n 60 "$log"
    echo "== $target: FAILED (artifacts in build-fuzz/artifacts)"
    return 1
  fi
  echo "== $target: $(ls "$corpus" | wc -l) corpus files replayed, $(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1), no crash"
}

# As many targets fuzz at once as there are cores.
echo "== fuzzing ${#targets[@]} targets for ${seconds} s each, ${jobs} at a time"
failed=0
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
