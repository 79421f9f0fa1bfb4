#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang in build-fuzz/ and runs each one
# for SECONDS (default 20) from a copy of its seed corpus, so the committed
# corpus never grows. Fails when any harness finds a crash, a leak, undefined
# behaviour, a wrong answer (FUZZ CHECK FAILED) or an input that hangs.
#
# Usage: bash scripts/fuzz.sh [SECONDS] [HARNESS...]    (default: all of them)
#
# Adding a harness: write fuzz/<Name>Fuzz.cpp defining LLVMFuzzerTestOneInput
# (FuzzSupport.h has a temporary folder and FuzzCheck for wrong answers), put
# a few small, meaningful inputs in fuzz/corpus/<Name>Fuzz/, optionally a
# libFuzzer dictionary in fuzz/<Name>Fuzz.dict, and add the library it calls
# to QUILLON_FUZZ_LIBRARIES in fuzz/CMakeLists.txt if it is not there yet.
# A finding is kept in build-fuzz/findings/; rerun it with
#   build-fuzz/fuzz/<Name>Fuzz build-fuzz/findings/<Name>Fuzz-crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true

bash scripts/deps.sh --fuzz
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
fi
cmake -S . -B build-fuzz -DQUILLON_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" > /dev/null
cmake --build build-fuzz -j"$(nproc)"

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for source in fuzz/*Fuzz.cpp; do
    harnesses+=("$(basename "$source" .cpp)")
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$PWD/build-fuzz/findings
mkdir -p "$findings"
# Leaks and undefined behaviour end the run like a crash does.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Files a harness writes go to the scratch folder, removed even after a crash.
export TMPDIR=$work

failed=()
for name in "${harnesses[@]}"; do
  corpus=$work/corpus-$name
  mkdir -p "$corpus"
  cp -R "fuzz/corpus/$name/." "$corpus/"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/$name-")
  [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
  echo "== $name, $seconds s"
  if ! "build-fuzz/fuzz/$name" "${options[@]}" "$corpus" > "$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    failed+=("$name")
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$work/$name.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]} (inputs kept in build-fuzz/findings/)"
  exit 1
fi
echo "Fuzzing found nothing: ${harnesses[*]}"
