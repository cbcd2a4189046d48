#!/usr/bin/env bash
# Generates the demonstration take into the build folder, draws the editor over it, and runs it through
# the plug-in in the stand-in host with a small edit script, as a DAW would.
#   tools/demo.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: tools/demo.sh BUILD_DIR}
cmake --build "$build" --target corvalinth_cli make_demo_take >/dev/null
take="$build/demo_take.wav"
expected="$build/demo_take_notes.tsv"
"$build/tools/make_demo_take" "$take" "$expected"
echo "Demonstration take: $take"
echo "Generated notes (start s, MIDI pitch):"
sed 's/^/  /' "$expected"
shot="$build/demo_take_editor.png"
"$build/host/corvalinth" screenshot "$take" "$shot"
echo
echo "The editor over the take: $shot (open it in a window with: $build/host/corvalinth open $take)"

script="$build/demo_edit.txt"
cat >"$script" <<'SCRIPT'
# The second note a whole tone up, the fourth 6 dB quieter, every note pulled onto its semitone;
# then the pull undone and done again.
transpose 2 2
gain 4 -6
correct all
undo
redo
SCRIPT
edited="$build/demo_take_edited.wav"
echo
echo "The take through the plug-in (capture, analysis, the edit script $script, offline bounce):"
start=$(date +%s%N)
"$build/host/corvalinth" host "$take" "$edited" --edit "$script"
tenths=$((($(date +%s%N) - start) / 100000000))
echo
echo "The edited take: $edited ($((tenths / 10)).$((tenths % 10)) s through the plug-in)"
