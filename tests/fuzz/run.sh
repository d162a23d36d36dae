#!/usr/bin/env bash
# Runs every fuzz target of a clang build for a while.
#   tests/fuzz/run.sh <build dir> [seconds per target]
# New corpus entries go to <build dir>/fuzz-corpus/<target>/; the seeds in
# tests/fuzz/seeds/ and archives made by tests/util/make_archives.py are read
# only. A crash, leak or sanitizer report fails the run (the reproducer is
# left in <build dir>/fuzz-artifacts/).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
seconds=${2:-10}
bin=$build/tests/fuzz
corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
mkdir -p "$corpus"/{fuzz_xml,fuzz_zip_name,fuzz_zip_archive,fuzz_http_header,fuzz_stream_dispatcher,fuzz_engine_messages} "$artifacts" "$corpus/archive-seeds"
python3 "$root/tests/util/make_archives.py" "$corpus/archive-seeds" > /dev/null
find "$corpus/archive-seeds" -mindepth 1 -not -name '*.zip' -prune -exec rm -rf {} +

run() {
  local target=$1; shift
  echo "== $target (${seconds}s)"
  "$bin/$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/$target-" -print_final_stats=1 "$@" 2>&1 | tail -n 12
  return "${PIPESTATUS[0]}"
}

run fuzz_xml -dict="$here/xml.dict" "$corpus/fuzz_xml" "$here/seeds/xml"
run fuzz_zip_name "$corpus/fuzz_zip_name" "$here/seeds/zip_name"
run fuzz_zip_archive "$corpus/fuzz_zip_archive" "$corpus/archive-seeds"
run fuzz_http_header -dict="$here/http.dict" "$corpus/fuzz_http_header" "$here/seeds/http_header"
run fuzz_stream_dispatcher "$corpus/fuzz_stream_dispatcher" "$here/seeds/stream_dispatcher"
run fuzz_engine_messages "$corpus/fuzz_engine_messages"
