#!/usr/bin/env bash
# Launch-day swarm on a network that looks like the internet. Every user and
# the content server sit in a network namespace of their own, joined by a
# router namespace, with addresses from 198.18.0.0/15 and tbf rate limits on
# both directions of every host's link. Users arrive at seeded random times
# (exponential gaps), each with its own engine on its default ports in its own
# namespace, and download the same game of 4 files with default settings;
# then the same schedule again over plain HTTP (no torrent metadata served).
#
#   bench/swarm-sim.sh [options]
#     --build DIR         build tree (build/release)
#     --users N           users (10)
#     --game-mib M        the game's size in MiB, cut into 4 files (181)
#     --gap S             mean gap between arrivals in seconds (3)
#     --seed K            seed of the arrival times (1)
#     --server-up R       content server uplink, MiB/s (40)
#     --user-up R         each user's uplink, MiB/s (8)
#     --user-down R       each user's downlink, MiB/s (50)
#     --logs DIR          keep every engine's log there
#
# Prints for both rounds the content server's egress (from nginx's access log)
# as a share of N x the game, the mean and the longest job time, and then the
# swarm's times against plain HTTP, the first user's time (it arrives alone)
# against its plain-HTTP time, whether every copy is byte-identical, and how
# busy the CPUs were. Needs root. Each round ends within 125 s of its start (a
# job cut off there counts as failed), so a run takes less than 5 minutes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
users=10 game_mib=181 gap=3 seed=1 server_up=40 user_up=8 user_down=50 logs=""
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --users) users=$2 ;;
    --game-mib) game_mib=$2 ;;
    --gap) gap=$2 ;;
    --seed) seed=$2 ;;
    --server-up) server_up=$2 ;;
    --user-up) user_up=$2 ;;
    --user-down) user_down=$2 ;;
    --logs) logs=$2 ;;
    *) sed -n '2,24p' "$0" >&2; exit 2 ;;
  esac
  shift 2
done
[[ $users =~ ^[0-9]+$ && $users -ge 1 && $users -le 200 ]] || { echo "--users: 1 to 200" >&2; exit 2; }
[[ $game_mib =~ ^[0-9]+$ && $game_mib -ge 4 ]] || { echo "--game-mib: at least 4" >&2; exit 2; }
for v in "$gap" "$server_up" "$user_up" "$user_down"; do
  [[ $v =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "bad rate or gap: $v" >&2; exit 2; }
done
build=$(cd "$build" && pwd)
engine=$build/engine/vrDownload.exe
tool=$build/tools/torrent_maker/tvx-make-torrents
client=$build/bench/bench_EngineSwarmClient
for f in "$engine" "$tool" "$client" /usr/sbin/nginx /usr/bin/opentracker; do
  [ -x "$f" ] || { echo "missing $f" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)" >&2; exit 1; }

tag=tvxsim$$
work=$(mktemp -d /tmp/tvx-swarm-sim-XXXXXX)
chmod 755 "$work"
pids=()
namespaces=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for ns in "${namespaces[@]}"; do ip netns delete "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }
bytes_per_s() { awk -v r="$1" 'BEGIN { printf "%d", r * 1048576 }'; }
# tbf on DEV in NS at RATE MiB/s: a burst of 2 ms at that rate (at least
# 64 KiB) and a queue of 30 ms, like a modest home router.
limit() {
  local ns=$1 dev=$2 rate
  rate=$(bytes_per_s "$3")
  local burst=$((rate / 500 > 65536 ? rate / 500 : 65536))
  in_ns "$ns" tc qdisc add dev "$dev" root tbf rate "${rate}bps" burst "$burst" latency 30ms
}

# The router, and host i (0: the content server, 1..N: users) on 198.18.i.0/24.
router=$tag-r
ip netns add "$router" && namespaces+=("$router")
in_ns "$router" ip link set lo up
in_ns "$router" sysctl -qw net.ipv4.ip_forward=1
add_host() {
  local i=$1 up=$2 down=$3 ns=$tag-h$1
  ip netns add "$ns" && namespaces+=("$ns")
  ip link add "h$i" netns "$ns" type veth peer name "r$i" netns "$router"
  in_ns "$ns" ip link set lo up
  in_ns "$ns" ip addr add "198.18.$i.2/24" dev "h$i"
  in_ns "$ns" ip link set "h$i" up
  in_ns "$ns" ip route add default via "198.18.$i.1"
  in_ns "$router" ip addr add "198.18.$i.1/24" dev "r$i"
  in_ns "$router" ip link set "r$i" up
  [ "$up" = 0 ] || limit "$ns" "h$i" "$up"
  [ "$down" = 0 ] || limit "$router" "r$i" "$down"
}
add_host 0 "$server_up" 0
for ((u = 1; u <= users; u++)); do add_host "$u" "$user_up" "$user_down"; done
server=198.18.0.2

# The game: 4 files of pseudo-random bytes, 34/29/22/15 % of its size.
www=$work/www
mkdir -p "$www/g" "$work/nginx/tmp"
game_bytes=$((game_mib << 20))
sizes=($((game_bytes * 34 / 100)) $((game_bytes * 29 / 100)) $((game_bytes * 22 / 100)))
sizes+=($((game_bytes - sizes[0] - sizes[1] - sizes[2])))
urls=()
for i in 0 1 2 3; do
  openssl enc -aes-128-ctr -K "$(printf '%032x' $((i + 7)))" -iv 00000000000000000000000000000000 \
    -in /dev/zero 2>/dev/null | head -c "${sizes[$i]}" >"$www/g/part$i.bin" || true
  urls+=("http://$server/g/part$i.bin")
done

cat >"$work/nginx/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $work/nginx/pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
    access_log $work/nginx/access.log;
    client_body_temp_path $work/nginx/tmp; proxy_temp_path $work/nginx/tmp;
    fastcgi_temp_path $work/nginx/tmp; uwsgi_temp_path $work/nginx/tmp; scgi_temp_path $work/nginx/tmp;
    sendfile on; keepalive_requests 100000;
    server { listen $server:80; root $www; }
}
CONF
ip netns exec "$tag-h0" /usr/sbin/nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" </dev/null &
pids+=($!)
nginx_pid=$!
"$tool" --root "$www" --announce "http://$server:6969/announce" --info-hashes "$work/whitelist" \
  "${urls[@]}"
chmod 644 "$work/whitelist"
ip netns exec "$tag-h0" opentracker -i "$server" -p 6969 -P 6969 -w "$work/whitelist" \
  >"$work/tracker.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  in_ns "$tag-h1" bash -c "exec 3<>/dev/tcp/$server/80" 2>/dev/null && break
  sleep 0.1
done

# Seeded arrival times: exponential gaps, the first user at 0.
mapfile -t arrivals < <(awk -v n="$users" -v m="$gap" -v s="$seed" 'BEGIN {
  srand(s); t = 0; for (i = 0; i < n; i++) { printf "%.3f\n", t; t += -m * log(1 - rand()) } }')

cpu_busy() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8, $5 + $6 }' /proc/stat; }

# Each round ends at most this long after its first arrival, so that a whole
# run stays within 5 minutes.
round_seconds=125

# run_round NAME: every user's engine in its namespace, jobs at their arrival
# times; each copy is checked and removed as soon as its job ends.
run_round() {
  local name=$1 u
  : >"$work/nginx/access.log"
  kill -USR1 "$nginx_pid"  # nginx reopens its log
  local engine_pids=() user_pids=()
  for ((u = 1; u <= users; u++)); do
    local home=$work/$name/u$u
    mkdir -p "$home/data" "$home/dl"
    ip netns exec "$tag-h$u" env XDG_DATA_HOME="$home/data" TVX_ENGINE_IDLE_MS=600000 "$engine" \
      >/dev/null 2>"$home/engine.err" &
    engine_pids+=($!)
  done
  for ((u = 1; u <= users; u++)); do
    for _ in $(seq 100); do
      in_ns "$tag-h$u" bash -c 'exec 3<>/dev/tcp/127.0.0.1/57006' 2>/dev/null && break
      sleep 0.05
    done
  done
  local args=()
  for j in 0 1 2 3; do args+=("${sizes[$j]}" "${urls[$j]}"); done
  read -r busy0 idle0 < <(cpu_busy)
  local start
  start=$(date +%s.%N)
  for ((u = 1; u <= users; u++)); do
    local home=$work/$name/u$u
    (
      sleep "$(awk -v a="${arrivals[$((u - 1))]}" -v s="$start" -v now="$(date +%s.%N)" \
        'BEGIN { w = a - (now - s); print (w > 0 ? w : 0) }')"
      # Every round ends within its deadline: a job not done by then failed.
      left=$(awk -v a="${arrivals[$((u - 1))]}" -v d="$round_seconds" \
        'BEGIN { l = d - a; print (l > 20 ? int(l) : 20) }')
      if timeout "$left" ip netns exec "$tag-h$u" "$client" 57006 "$home/dl/" "${args[@]}" \
        >"$home/time" 2>"$home/err"; then
        same=1
        for j in 0 1 2 3; do cmp -s "$www/g/part$j.bin" "$home/dl/part$j.bin" || same=0; done
        echo $same >"$home/same"
      fi
      rm -rf "$home/dl"
      [ ! -s "$home/err" ] || sed "s/^/user $u: /" "$home/err" >&2
    ) &
    user_pids+=($!)
  done
  for p in "${user_pids[@]}"; do wait "$p" || true; done
  read -r busy1 idle1 < <(cpu_busy)
  local end
  end=$(date +%s.%N)
  for p in "${engine_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${engine_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  local egress
  egress=$(awk '$9 ~ /^20[06]$/ && $7 !~ /\.torrent$/ { s += $10 } END { print s + 0 }' \
    "$work/nginx/access.log")
  {
    echo "egress $egress"
    echo "wall $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
    echo "cpu $(awk -v b="$((busy1 - busy0))" -v i="$((idle1 - idle0))" 'BEGIN { printf "%.0f", 100 * b / (b + i) }')"
    for ((u = 1; u <= users; u++)); do
      local t s
      t=$(cat "$work/$name/u$u/time" 2>/dev/null || true)
      s=$(cat "$work/$name/u$u/same" 2>/dev/null || true)
      echo "user $u ${t:--} ${s:-0}"
    done
  } >"$work/$name.result"
  grep -h "peer-assisted downloads" "$work/$name"/u*/data/Brenholt/vrDownloader/vrDownload.log \
    2>/dev/null | sed 's/^[^]]*] *//; s/^/    /' >"$work/$name.peers" || true
  if [ -n "$logs" ]; then
    mkdir -p "$logs/$name"
    for ((u = 1; u <= users; u++)); do
      cp "$work/$name/u$u/data/Brenholt/vrDownloader/vrDownload.log" "$logs/$name/u$u.log" \
        2>/dev/null || true
    done
  fi
  rm -rf "${work:?}/$name"
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $users users, game $game_mib MiB," \
  "arrivals every ${gap} s on average (seed $seed), server up $server_up MiB/s," \
  "users up $user_up / down $user_down MiB/s"
run_round swarm
mkdir -p "$work/hidden"
mv "$www"/g/*.torrent "$work/hidden/"
run_round http

report() {
  awk -v n="$users" -v g="$game_bytes" -v up="$user_up" '
    FNR == 1 { r = (FILENAME ~ /http\.result$/) ? "http" : "swarm" }
    $1 == "egress" { eg[r] = $2 } $1 == "wall" { wall[r] = $2 } $1 == "cpu" { cpu[r] = $2 }
    $1 == "user" { t[r, $2] = $3; same[r, $2] = $4 }
    END {
      ok = 1
      for (k = 0; k < 2; k++) {
        r = k ? "http" : "swarm"; sum = 0; max = 0; done = 0
        for (u = 1; u <= n; u++) {
          if (t[r, u] == "-") { ok = 0; continue }
          done++; sum += t[r, u]; if (t[r, u] > max) max = t[r, u]
          if (!same[r, u]) ok = 0
        }
        mean[r] = done ? sum / done : 0; mx[r] = max
        printf "%-6s egress %8.1f MiB = %5.1f %% of %d x the game; job mean %6.2f s, max %6.2f s; wall %6.1f s; CPU busy %s %%%s\n",
          r, eg[r] / 1048576, 100 * eg[r] / (n * g), n, mean[r], max, wall[r], cpu[r],
          done < n ? sprintf(" (%d of %d jobs FAILED)", n - done, n) : ""
        printf "       job seconds by arrival:"
        for (u = 1; u <= n; u++) printf " %s", t[r, u]
        printf "\n"
      }
      if (mean["http"] > 0 && mx["http"] > 0)
        printf "swarm / plain HTTP: mean %.2f, max %.2f; first user %.2f s vs %.2f s = %.2f\n",
          mean["swarm"] / mean["http"], mx["swarm"] / mx["http"], t["swarm", 1], t["http", 1],
          (t["http", 1] > 0 ? t["swarm", 1] / t["http", 1] : 0)
      printf "copies: %s\n", ok ? "all byte-identical" : "SOME MISSING OR DIFFERENT"
    }' "$work/swarm.result" "$work/http.result"
  cat "$work/swarm.peers"
}
report
