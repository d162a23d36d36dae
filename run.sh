#!/usr/bin/env bash
# Runs the demo: installs what is needed, builds tvx-launcher with the demo's
# URLs, draws the demo skin, serves a generated demo game (its file list, the
# skin and a demo installer) with nginx on loopback, starts the report host,
# and runs the launcher with a temporary home, so that the game lands in a
# temporary folder. The launcher shows its window when a display is there and
# its terminal view otherwise. When standard input is not a terminal, run.sh
# answers the terminal view itself: "start", then "y" to the completion
# question, which runs the demo installer.
#
#   ./run.sh
#
# TVX_DEMO_PORT (default 18080) and TVX_DEMO_SIZES (default 4M,16M,64M,216M)
# change the demo server's port and file sizes.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

port=${TVX_DEMO_PORT:-18080}
sizes=${TVX_DEMO_SIZES:-4M,16M,64M,216M}
# Every connection to the demo server is capped, like a busy content server,
# and a neighbour's engine downloads the same game at the same time, so the
# engines have something to gain from each other. TVX_DEMO_RATE= and
# TVX_DEMO_NEIGHBOUR=0 turn them off.
rate=${TVX_DEMO_RATE-20m}
neighbour=${TVX_DEMO_NEIGHBOUR:-1}
build=$root/build/run
report_port=54547

./scripts/setup.sh

# Warnings are errors in the test builds (./test.sh); here they must not stop a
# demo, as GCC 12 reports false -Wrestrict positives at -O3.
# The library's engine updater asks the demo server for its update manifest.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTVX_WERROR=OFF \
  -DTVX_FILELIST_URL="http://127.0.0.1:$port/fullinst/filelist.txt" \
  -DTVX_SKIN_URL="http://127.0.0.1:$port/fullinst/img.zip" \
  -DTVX_UPDATE_SERVER_URL="http://127.0.0.1:$port" >/dev/null
targets=(tvx-launcher tvx-skin-maker tvx-hashlist tvx-sign vrDownload tvx-make-torrents
  bench_EngineSwarmClient)
have_report_host=0
# The whole target list first: grep -q stopping early would break the pipe.
build_targets=$(cmake --build "$build" --target help)
if grep -q '^tvx-report-host:' <<<"$build_targets"; then
  targets+=(tvx-report-host)
  have_report_host=1
fi
echo "== building ${targets[*]} (log in $build/build.log)"
if ! cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log" >&2
  echo "run.sh: the build failed" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tvx-demo-run.XXXXXX")
server_pid=
report_pid=
launcher_pid=

cleanup() {
  local pid
  for pid in ${client_pid:-} ${neighbour_pid:-} $launcher_pid $report_pid $server_pid; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in ${client_pid:-} ${neighbour_pid:-} $launcher_pid $report_pid $server_pid; do
    wait "$pid" 2>/dev/null || true
  done
  # The logs of the last run stay in the build folder for a look afterwards.
  if [ -n "${home:-}" ] && [ -d "$home/.local/share/Brenholt" ]; then
    rm -rf "$build/last-run"
    mkdir -p "$build/last-run"
    find "$home/.local/share/Brenholt" -name '*.log' -exec cp {} "$build/last-run/" \; 2>/dev/null || true
  fi
  # The engine the launcher installed and started lives in the demo's home.
  [ -z "${home:-}" ] || pkill -TERM -f "^$home/" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Waits until file holds text, while pid still runs; at most 60 s.
wait_for() {
  local file=$1 text=$2 pid=$3
  for _ in $(seq 1 1200); do
    grep -q "$text" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# The game is kept in the build folder, so that a second run need not
# generate it again.
echo "== drawing the demo skin"
"$build/tools/skin_maker/tvx-skin-maker" --out "$build/demo-skin" 2>/dev/null

echo "== demo server on 127.0.0.1:$port"
# The engine update is served once the engine program is built.
update_args=()
engine=$build/engine/vrDownload.exe
if [ -x "$engine" ]; then
  update_args=(--engine "$engine" --hashlist "$build/tools/hashlist/tvx-hashlist")
fi
# Torrent metadata beside every game file and a tracker: the engine fetches
# them with peers, the content server being their web seed.
update_args+=(--torrents "$build/tools/torrent_maker/tvx-make-torrents")
# The list and the update are signed with the key this build made at
# configure time, whose public half is built into the launcher.
update_args+=(--sign-key "$build/test-publisher/publisher.key"
  --sign-tool "$build/tools/sign/tvx-sign")
[ -z "$rate" ] || update_args+=(--limit-rate "$rate")
tools/demo_server/demo-server.sh --dir "$build/demo-server" --port "$port" --sizes "$sizes" \
  --skin "$build/demo-skin/img.zip" "${update_args[@]}" >"$work/server.out" 2>&1 &
server_pid=$!
if ! wait_for "$work/server.out" '^file list: ' "$server_pid"; then
  cat "$work/server.out" >&2
  echo "run.sh: the demo server did not start" >&2
  exit 1
fi
cat "$work/server.out"
list_url=$(sed -n 's/^file list: //p' "$work/server.out")

reports=$work/reports.jsonl
if [ "$have_report_host" -eq 1 ]; then
  echo "== report host on 127.0.0.1:$report_port"
  "$build/tools/report_host/tvx-report-host" --port "$report_port" --out "$reports" \
    >"$work/report.out" 2>&1 &
  report_pid=$!
  if ! wait_for "$work/report.out" '^listening ' "$report_pid"; then
    cat "$work/report.out" >&2
    echo "run.sh: note: the report host did not start; running without it" >&2
    report_pid=
  fi
else
  echo "run.sh: note: tvx-report-host is not built yet; running without a report host" >&2
fi

# A home of its own: the default download folder is ~/Download/halvard2/,
# the remembered folder and the log go below it too. The window still finds
# the display's authority file of the real home.
home=$work/home
game=$home/Download/halvard2
mkdir -p "$home"
export XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}
launcher=(env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
  "$build/launcher/tvx-launcher")
out=$work/launcher.out

# The neighbour: an engine of its own (another link port, its own folders),
# driven by the link's test client once the launcher starts its download.
neighbour_pid=
neighbour_job=()
if [ "$neighbour" -eq 1 ]; then
  nhome=$work/neighbour
  mkdir -p "$nhome/data/Brenholt/vrDownloader" "$nhome/game"
  printf 'upload_limit_kib = 0\ndownload_limit_kib = 0\npeer_port = 0\n' \
    >"$nhome/data/Brenholt/vrDownloader/vrDownload.conf"
  XDG_DATA_HOME=$nhome/data TVX_ENGINE_LINK_PORT=57107 "$build/engine/vrDownload.exe" \
    </dev/null >/dev/null 2>&1 &
  neighbour_pid=$!
  neighbour_job=("$build/bench/bench_EngineSwarmClient" 57107 "$nhome/game/")
  while IFS= read -r url; do
    [ -n "$url" ] || continue
    neighbour_job+=("$(stat -c %s "$build/demo-server/www/fullinst/${url##*/}")" "$url")
  done <"$build/demo-server/www/fullinst/filelist.txt"
  echo "== a neighbour's engine downloads the same game beside the launcher"
fi
client_pid=

echo "== running tvx-launcher (the game goes to $game)"
started=$(date +%s%N)
status=0
if [ -t 0 ]; then
  "${launcher[@]}" 2>&1 | tee "$out" || status=$?
else
  # Scripted: answer the terminal view as a user would, line by line.
  coproc LAUNCHER { TVX_VIEW=terminal "${launcher[@]}" 2>&1; }
  launcher_pid=$LAUNCHER_PID
  # Copies of the coprocess's pipes: bash drops its own once the launcher ends,
  # before the rest of its output (the installer's line) has been read.
  exec {from_launcher}<&"${LAUNCHER[0]}" {to_launcher}>&"${LAUNCHER[1]}"
  while IFS= read -r line <&"$from_launcher"; do
    printf '%s\n' "$line" | tee -a "$out"
    case $line in
      commands:*)
        echo start >&"$to_launcher"
        if [ -n "$neighbour_pid" ]; then
          "${neighbour_job[@]}" >"$work/neighbour.out" 2>&1 &
          client_pid=$!
        fi ;;
      *"지금 실행 하시겠습니까?"*) echo y >&"$to_launcher" ;;
    esac
  done
  exec {from_launcher}<&- {to_launcher}>&-
  wait "$launcher_pid" || status=$?
  launcher_pid=
fi
ended=$(date +%s%N)

neighbour_line=
if [ -n "$client_pid" ]; then
  if wait "$client_pid"; then
    neighbour_line="the neighbour's engine had the same game in $(cat "$work/neighbour.out") s"
  else
    neighbour_line="the neighbour's download failed: $(tail -n 1 "$work/neighbour.out")"
  fi
  client_pid=
fi

echo "== summary"
files=0
bytes=0
same=0
if [ -d "$game" ]; then
  for path in "$game"/*; do
    [ -f "$path" ] || continue
    files=$((files + 1))
    bytes=$((bytes + $(stat -c %s "$path")))
    if cmp -s "$path" "$build/demo-server/www/fullinst/$(basename "$path")"; then
      same=$((same + 1))
    fi
  done
fi
listed=$(grep -c . "$build/demo-server/www/fullinst/filelist.txt" || true)
printf 'files:   %d of %d listed, %d byte-identical to the served ones\n' "$files" "$listed" "$same"
printf 'bytes:   %d\n' "$bytes"
# The library logs every file whose SHA-256 and size matched the signed metadata.
log=$home/.local/share/Brenholt/vrDownloader/config/service.log
verified=$(grep -a -c '\[TarvoLib\] Verified : ' "$log" 2>/dev/null || true)
printf "files: %d verified against the publisher's signature\n" "${verified:-0}"
ms=$(((ended - started) / 1000000))
printf 'time:    %d.%01d s\n' $((ms / 1000)) $((ms % 1000 / 100))
if [ -n "$report_pid" ]; then
  # The report goes out as the job ends; give it a moment to arrive.
  for _ in $(seq 1 40); do
    [ "$(wc -l <"$reports" 2>/dev/null || echo 0)" -ge "$files" ] && break
    sleep 0.05
  done
  printf 'reports: %d records received (a job the engine carries is reported by the engine)\n' "$( [ -f "$reports" ] && wc -l <"$reports" || echo 0)"
  [ ! -s "$reports" ] || sed 's/^/  /' "$reports"
else
  echo "reports: no report host"
fi
echo "logs:    $build/last-run/"
# Which path carried the download: the direct downloader logs its start; a job
# the local engine carried shows in the engine's own log.
log=$home/.local/share/Brenholt/vrDownloader/config/service.log
engine_log=$home/.local/share/Brenholt/vrDownloader/vrDownload.log
if grep -q 'CPlatFormDownloader Begin' "$log" 2>/dev/null; then
  why=$(grep -a -o 'CEngineDownloader MaxTry Over\|Patch Fail' "$log" | head -n 1 || true)
  printf 'path:    direct download%s\n' "${why:+ (engine path left: $why)}"
elif grep -q 'complete' "$engine_log" 2>/dev/null; then
  printf 'path:    high-speed, through the local engine (%s)\n' "$(grep -a 'complete' "$engine_log" | tail -n 1)"
  # The engine logs, per file, what came from peers and from the web seed.
  awk '/: complete, .* MiB from peers, .* MiB from web seeds/ {
         files++; peers += $(NF-8); seeds += $(NF-4) }
       END { if (files) printf "sources: %d files: %.1f MiB from peers, %.1f MiB from the web seed\n", files, peers, seeds
             else print "sources: every file over plain HTTP" }' "$engine_log"
else
  echo "path:    unknown (no log)"
fi
[ -z "$neighbour_line" ] || printf 'peers:   %s\n' "$neighbour_line"
installed=$(grep -a 'demo installer:' "$out" | tail -n 1 || true)
printf 'install: %s\n' "${installed:-the installer did not run}"
[ "$status" -eq 0 ] || echo "run.sh: tvx-launcher ended with $status" >&2
exit "$status"
