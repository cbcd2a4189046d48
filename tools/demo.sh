#!/usr/bin/env bash
# Generates the demonstration take into the build folder, analyses it with the command-line front end, bounces
# it pitch-corrected and draws the editor over it.
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
echo
"$build/host/corvalinth" analyse "$take"
bounce="$build/demo_take_tuned.wav"
echo
"$build/host/corvalinth" render "$take" "$bounce" --correct 1
echo "The take with every note onto its semitone: $bounce"
shot="$build/demo_take_editor.png"
"$build/host/corvalinth" screenshot "$take" "$shot"
echo
echo "The editor over the take: $shot (open it in a window with: $build/host/corvalinth open $take)"
