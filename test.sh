#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and runs the whole suite twice: once
# in an optimised build, once in a Debug build under AddressSanitizer and
# UndefinedBehaviorSanitizer, which fails on any report.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/setup.sh

jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300
}

run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo

# A host project must be able to add us with add_subdirectory().
cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/consumer -j "$jobs" --target consumer
consumer_home=$(mktemp -d)
HOME=$consumer_home XDG_DATA_HOME= build/consumer/consumer
rm -rf "$consumer_home"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DTVX_SANITIZE=ON

# Fuzz targets (tests/fuzz/): a separate clang build of the libFuzzer targets
# only, each run for a few seconds, so that they keep building and running.
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTVX_BUILD_FUZZ=ON -DTVX_BUILD_TESTS=ON -DTVX_BUILD_BENCH=OFF
cmake --build build/fuzz -j "$jobs" --target tvx_fuzz
tests/fuzz/run.sh build/fuzz 10

# The Debian package: built as a release without tests, installed with
# apt-get on a clean Debian root, and run there against the demo server.
tools/package/package-test.sh --build build/package
