#!/usr/bin/env bash
# Builds the libFuzzer targets of the project reader, the update manifest parser, the host-state chunk
# decoder, the SVG icon reader, the edit-script parser, the audio header's length reader and the
# preferences reader (clang, ASan + UBSan), replays the committed corpus, then fuzzes each target in a
# scratch copy of its corpus, as many at once as there are cores, and prints a line for each target.
#
# By default each target runs a fixed number of inputs from a fixed seed (about 30 s a target on one core),
# so on the same code every run fuzzes the same inputs and prints the same lines, in any checkout and
# shell: a fault nobody touched cannot fail a later change at random. The runs are kept apart from what
# they could vary with (addresses reach libFuzzer's comparison table): no address randomisation, a fixed
# environment, paths of the same length in every checkout, compiled in too (tools/fuzz-compile.sh), and
# no re-reading of the scratch corpus on a timer.
#
# An exploratory run, after changing a parser, looks further:
#   CV_FUZZ_SEED=random tools/fuzz-ci.sh                     a new seed each time (printed), the same runs
#   CV_FUZZ_SEED=random CV_FUZZ_SECONDS=300 tools/fuzz-ci.sh  a new seed, 300 s a target instead of a count
#   CV_FUZZ_SEED=123 tools/fuzz-ci.sh                        a seed printed by an earlier run, again
# A crash prints the command that replays its input. Once its fault is mended, copy the input into
# tests/fuzz/corpus/<target>/ under a name that says what it holds, so every later run replays it.
#
# Exits non-zero on any crash. Regenerate the project reader's seeds with:
# build-fuzz/tests/fuzz/make_project_seeds tests/fuzz/corpus/<target>, the decoder's with
# build-fuzz/tests/fuzz/make_dawstate_seeds tests/fuzz/corpus/dawstate_chunk_fuzz; the manifest, SVG,
# edit-script, audio header and preferences seeds are written by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Each target's runs: about what it ran in 30 s on one core of the reference machine under ASan + UBSan,
# from this seed and corpus (CV_FUZZ_SECONDS=30 prints it).
declare -A runs_of=(
  [project_reader_repaired_fuzz]=1700000 [project_reader_raw_fuzz]=2000000 [update_manifest_fuzz]=850000
  [dawstate_chunk_fuzz]=4000000 [svg_reader_fuzz]=700000 [edit_script_fuzz]=550000
  [prefs_values_fuzz]=400000 [declared_frames_fuzz]=300000)
targets=(project_reader_repaired_fuzz project_reader_raw_fuzz update_manifest_fuzz dawstate_chunk_fuzz
  svg_reader_fuzz edit_script_fuzz prefs_values_fuzz declared_frames_fuzz)

seed=${CV_FUZZ_SEED:-1}
if [ "$seed" = random ]; then
  seed=$(($(od -An -N4 -tu4 /dev/urandom) % 999999999 + 1))
elif ! [[ "$seed" =~ ^[1-9][0-9]{0,8}$ ]]; then
  echo "CV_FUZZ_SEED must be 'random' or a number from 1 to 999999999, not '$seed'" >&2
  exit 2
fi
seconds=${CV_FUZZ_SECONDS:-}
if [ -n "$seconds" ] && ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "CV_FUZZ_SECONDS must be a whole number of seconds, not '$seconds'" >&2
  exit 2
fi

cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER_LAUNCHER="$root/tools/fuzz-compile.sh" \
  -DCMAKE_CXX_COMPILER_LAUNCHER="$root/tools/fuzz-compile.sh" \
  -DCMAKE_C_FLAGS=-ffile-compilation-dir=build-fuzz -DCMAKE_CXX_FLAGS=-ffile-compilation-dir=build-fuzz \
  -DCV_BUILD_FUZZ=ON -DCV_SANITIZE=address -DCV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-fuzz" -j "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$root/build-fuzz"
mkdir -p artifacts
# Each target fuzzes in a folder of its own under one whose path has the same length in every checkout,
# holding a copy of the program, its scratch corpus and its artifacts, and is given only paths relative
# to it: the lengths of the paths it is given and of the folder it runs in move the heap addresses that
# reach libFuzzer's comparison table.
scratch=$(mktemp -d /tmp/cv-fuzz.XXXXXXXXXX)
trap 'rm -rf "$scratch"' EXIT
# The fuzzing runs get a fixed environment and no address randomisation, for the same reason.
fixed=(env -i PATH=/usr/bin:/bin "ASAN_OPTIONS=$ASAN_OPTIONS" "UBSAN_OPTIONS=$UBSAN_OPTIONS")
if setarch "$(uname -m)" -R true 2>/dev/null; then
  fixed+=(setarch "$(uname -m)" -R)
else
  echo "== address randomisation cannot be turned off here: the fuzzing lines may differ from run to run"
fi

# Replays the corpus, then fuzzes one target; its output goes to its log, a summary line to stdout.
fuzz_one() {
  local target=$1
  local binary="tests/fuzz/$target"
  local corpus="$root/tests/fuzz/corpus/$target"
  local log="$target.log"
  local limit=(-runs="${runs_of[$target]}")
  local what="${runs_of[$target]} runs"
  if [ -n "$seconds" ]; then
    limit=(-max_total_time="$seconds")
    what="$seconds s"
  fi
  local work="$scratch/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$binary" "$work/program"
  cp "$corpus"/* "$work/corpus/"
  local failure=""
  if ! "$binary" -runs=0 -artifact_prefix="artifacts/$target-" "$corpus" >"$log" 2>&1; then
    failure="replaying the committed corpus"
  elif ! (cd "$work" && "${fixed[@]}" ./program -seed="$seed" "${limit[@]}" -reload=0 -timeout=10 \
    -rss_limit_mb=2048 -max_len=65536 -artifact_prefix=artifacts/ -print_final_stats=1 corpus) \
    >>"$log" 2>&1; then
    failure="fuzzing from seed $seed, $what"
    local found
    for found in "$work/artifacts/"*; do
      [ -e "$found" ] && cp "$found" "artifacts/$target-${found##*/}"
    done
  fi
  if [ -n "$failure" ]; then
    tail -n 60 "$log"
    echo "== $target: FAILED $failure (log in build-fuzz/$log)"
    # "Test unit written to artifacts/<target>-crash-<sha1>" from the replay, "... artifacts/crash-<sha1>"
    # from the fuzzing: both kept as build-fuzz/artifacts/<target>-crash-<sha1>.
    local name
    for name in $(sed -nE 's/.*Test unit written to artifacts\/([^ ]+)$/\1/p' "$log"); do
      echo "== replay: build-fuzz/$binary build-fuzz/artifacts/$target-${name#"$target-"}"
    done
    return 1
  fi
  # The last status line without its rate and memory, which vary: "#400000 DONE cov: 366 ft: 1741 corp:
  # 177/12682b lim: 783 exec/s: ...".
  local last stats
  last=$(grep -E '^#[0-9]+[[:space:]]+DONE ' "$log" | tail -n 1)
  stats=$(sed -E 's/.* cov: ([0-9]+) ft: ([0-9]+) corp: ([^ ]+).*/cov \1, features \2, corpus \3/' <<<"$last")
  if [ -n "$seconds" ]; then
    what="$what, $(sed -E 's/^#([0-9]+).*/\1/' <<<"$last") runs"
  fi
  echo "== $target: $(ls "$corpus" | wc -l) corpus files replayed; seed $seed, $what: $stats; no crash"
}

# As many targets fuzz at once as there are cores.
if [ -n "$seconds" ]; then
  echo "== fuzzing ${#targets[@]} targets from seed $seed for $seconds s each, $jobs at a time"
else
  echo "== fuzzing ${#targets[@]} targets from seed $seed for a fixed number of runs each, $jobs at a time"
fi
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
