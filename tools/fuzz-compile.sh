#!/usr/bin/env bash
# The fuzz build's compiler launcher (tools/fuzz-ci.sh): runs the compile command it is given with this
# checkout's path written as "..", the way back from build-fuzz, where every compile runs, so that the
# programs are the same bytes in every checkout (fuzz-ci.sh also names build-fuzz as the folder of the
# debug information). Source paths end up inside a program (the sanitizers' names of modules and lambdas),
# and they and the size of the program's file move the addresses that reach libFuzzer's comparison table:
# the same code would fuzz other inputs in a checkout at another path.
root=$(cd "$(dirname "$0")/.." && pwd)
args=()
for arg in "$@"; do
  arg=${arg//"$root/"/../}
  [[ "$arg" == *"$root" ]] && arg="${arg%"$root"}.."
  args+=("$arg")
done
exec "${args[@]}"
