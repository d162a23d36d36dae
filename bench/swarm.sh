#!/usr/bin/env bash
# Swarm bench: 10 engines on loopback (each with its own link and peer port and
# its own engine folder), each driven by the link's test client to download the
# same game of 4 files (256 MiB), started 1 s apart, from nginx capped at
# 20 MiB/s per connection, with opentracker beside it. Then the same 10 jobs
# without torrent metadata (plain HTTP) under the same cap.
#
#   bench/swarm.sh [BUILD_DIR=build/release] [ENGINES=10] [MIB_PER_FILE=64]
#
# Prints the content server's egress as a share of ENGINES x the game's size,
# both wall times, and checks every copy byte for byte. Needs root: it runs in
# a network namespace of its own. Goal: egress at most 30 %, swarm faster.
# TVX_SWARM_LOGS=DIR keeps each engine's log there.
set -euo pipefail
if [ -z "${TVX_SWARM_NS:-}" ]; then
  export TVX_SWARM_NS=1
  exec unshare -n "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
engines=${2:-10}
mib=${3:-64}
engine=$build/engine/vrDownload.exe
tool=$build/tools/torrent_maker/tvx-make-torrents
client=$build/bench/bench_EngineSwarmClient
for f in "$engine" "$tool" "$client"; do [ -x "$f" ] || { echo "missing $f" >&2; exit 1; }; done

ip link set lo up
# The engines' network probe wants an interface with an address.
ip link add tvxs0 type veth peer name tvxs1 && ip addr add 198.18.0.1/32 dev tvxs0 &&
  ip link set tvxs0 up && ip link set tvxs1 up

work=$(mktemp -d /tmp/tvx-swarm-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

www=$work/www
mkdir -p "$www/g" "$work/nginx"
port=18080
sizes=()
for i in 1 2 3 4; do
  openssl enc -aes-128-ctr -K "$(printf '%032x' $i)" -iv 00000000000000000000000000000000 \
    -in /dev/zero 2>/dev/null | head -c $((mib << 20)) >"$www/g/part$i.bin" || true
  sizes+=($((mib << 20)))
done
game_bytes=$((4 * (mib << 20)))

cat >"$work/nginx/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $work/nginx/pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log $work/nginx/access.log;
    client_body_temp_path $work/nginx/tmp; proxy_temp_path $work/nginx/tmp;
    fastcgi_temp_path $work/nginx/tmp; uwsgi_temp_path $work/nginx/tmp; scgi_temp_path $work/nginx/tmp;
    sendfile on;
    server { listen 127.0.0.1:$port; root $www; limit_rate 20m; }
}
CONF
/usr/sbin/nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" </dev/null &
pids+=($!)
sleep 0.5

urls=()
for i in 1 2 3 4; do urls+=("http://127.0.0.1:$port/g/part$i.bin"); done
"$tool" --root "$www" --announce "http://127.0.0.1:6969/announce" \
  --info-hashes "$work/whitelist" "${urls[@]}"
chmod 644 "$work/whitelist"
opentracker -i 127.0.0.1 -p 6969 -P 6969 -w "$work/whitelist" >"$work/tracker.log" 2>&1 &
pids+=($!)
sleep 0.3

# run_round NAME: starts the engines and their jobs 1 s apart, waits for all.
run_round() {
  local name=$1 start end egress i
  : >"$work/nginx/access.log"
  kill -USR1 "${pids[0]}"  # nginx reopens its log
  local engine_pids=() client_pids=()
  for ((i = 0; i < engines; i++)); do
    local home=$work/$name/e$i
    mkdir -p "$home/data/Brenholt/vrDownloader" "$home/dl"
    printf 'upload_limit_kib = 0\ndownload_limit_kib = 0\npeer_port = %d\n' $((7000 + i)) \
      >"$home/data/Brenholt/vrDownloader/vrDownload.conf"
    XDG_DATA_HOME=$home/data TVX_ENGINE_LINK_PORT=$((57100 + i)) TVX_ENGINE_IDLE_MS=600000 \
      "$engine" &
    engine_pids+=($!)
  done
  sleep 1
  start=$(date +%s.%N)
  for ((i = 0; i < engines; i++)); do
    local args=()
    for j in 0 1 2 3; do args+=("${sizes[$j]}" "${urls[$j]}"); done
    "$client" $((57100 + i)) "$work/$name/e$i/dl/" "${args[@]}" >"$work/$name/e$i/time" &
    client_pids+=($!)
    [ $i -eq $((engines - 1)) ] || sleep 1
  done
  local failed=0
  for p in "${client_pids[@]}"; do wait "$p" || failed=1; done
  end=$(date +%s.%N)
  for p in "${engine_pids[@]}"; do kill "$p"; done
  for p in "${engine_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  egress=$(awk '$9 ~ /^20[06]$/ && $7 !~ /\.torrent$/ { s += $10 } END { print s + 0 }' \
    "$work/nginx/access.log")
  local identical=1
  for ((i = 0; i < engines; i++)); do
    for j in 1 2 3 4; do
      cmp -s "$www/g/part$j.bin" "$work/$name/e$i/dl/part$j.bin" || identical=0
    done
  done
  awk -v n="$name" -v t0="$start" -v t1="$end" -v e="$egress" -v k="$engines" -v g="$game_bytes" \
    -v same="$([ $identical -eq 1 ] && echo identical || echo DIFFERENT)" \
    -v bad="$([ $failed -eq 0 ] && echo "" || echo ", SOME JOBS FAILED")" 'BEGIN {
      printf "%-7s wall %6.2f s, content server egress %7.1f MiB = %5.1f %% of %d x the game, copies %s%s\n",
        n, t1 - t0, e / 1048576, 100 * e / (k * g), k, same, bad }'
  printf '    job seconds, in start order:'
  for ((i = 0; i < engines; i++)); do printf ' %s' "$(cat "$work/$name/e$i/time" 2>/dev/null || echo -)"; done
  echo
  grep -h "peer-assisted downloads" "$work/$name"/e*/data/Brenholt/vrDownloader/vrDownload.log \
    2>/dev/null | sed 's/^/    /' || true
  if [ -n "${TVX_SWARM_LOGS:-}" ]; then
    for ((i = 0; i < engines; i++)); do
      mkdir -p "$TVX_SWARM_LOGS/$name"
      cp "$work/$name/e$i/data/Brenholt/vrDownloader/vrDownload.log" "$TVX_SWARM_LOGS/$name/e$i.log" 2>/dev/null || true
    done
  fi
  rm -rf "${work:?}/$name"
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
run_round swarm
# The same jobs over plain HTTP: without metadata the engines do not use peers.
mkdir -p "$work/hidden"
mv "$www"/g/*.torrent "$work/hidden/"
run_round direct
