#!/usr/bin/env bash
# Demo content server: generates a demo game (a few files of pseudo-random
# bytes, a demo installer, and the file list that names them) and serves it
# with nginx on a loopback port, together with the launcher's skin package,
# until SIGTERM or SIGINT.
#
#   demo-server.sh [--dir DIR] [--port N] [--sizes LIST] [--skin FILE] [--generate-only]
#                  [--engine FILE --hashlist TOOL] [--sign-key KEY --sign-tool TOOL]
#
#   --dir DIR        folder of the game, the nginx configuration and the logs
#                    (default ${TMPDIR:-/tmp}/tvx-demo-server)
#   --port N         loopback port (default 18080)
#   --sizes LIST     comma-separated file sizes with an optional K, M or G
#                    suffix (powers of 1024), e.g. 4M,16M,1G
#                    (default 4M,16M,64M,216M: 300 MiB)
#   --skin FILE      the skin package (img.zip, made by tvx-skin-maker) to serve
#                    as /fullinst/img.zip
#   --generate-only  write the game and the file list, then exit
#   --engine FILE    also serve the engine update made from this engine program
#                    (manifest, 7z and zip archives, hash lists; see
#                    tools/update_content/make-update-content.sh)
#   --hashlist TOOL  the tvx-hashlist program used for the update's hash lists
#   --limit-rate R   cap every connection at R bytes a second (nginx's
#                    limit_rate syntax, e.g. 20m), like a busy content server
#   --torrents TOOL  also write each game file's torrent metadata with this
#                    tvx-make-torrents program and run opentracker on the
#                    loopback port after --port, so that engines download
#                    with peers (the content server is their web seed)
#   --sign-key KEY   sign the file list and the engine update with this
#                    Ed25519 private key (release metadata beside each:
#                    filelist.txt.release, QGM_updater.xml.release), so that a
#                    launcher built with its public key takes them
#   --sign-tool TOOL the tvx-sign program (default: tvx-sign in PATH)
#   --release-version N  the signed release version (default: the time now,
#                    so that every new run's release is the newest)
#
# The list's last file is the installer, Halvard2Setup.exe: a shell script
# (under the name the launcher's installer rule picks) that says where the
# game was installed. Once nginx accepts connections the script prints
# "file list: <URL>" (and "skin: <URL>" when serving one) on stdout. The same
# sizes give the same bytes on every run, so files already present with the
# right size are kept.
set -euo pipefail

readonly nginx=/usr/sbin/nginx
dir=${TMPDIR:-/tmp}/tvx-demo-server
port=18080
sizes=4M,16M,64M,216M
skin=
generate_only=0
limit_rate=
engine=
hashlist=tvx-hashlist
torrents=
sign_key=
sign_tool=tvx-sign
release_version=

die() {
  echo "demo-server: $*" >&2
  exit 1
}

usage() {
  sed -n '2,42p' "$0" | sed 's/^# \{0,1\}//'
}

while [ $# -gt 0 ]; do
  case $1 in
    --dir|--port|--sizes|--skin|--engine|--hashlist|--torrents|--limit-rate|--sign-key|--sign-tool|--release-version)
      [ $# -ge 2 ] && [ -n "$2" ] || { echo "demo-server: $1 needs a value" >&2; usage >&2; exit 2; }
      case $1 in
        --dir) dir=$2 ;;
        --port) port=$2 ;;
        --sizes) sizes=$2 ;;
        --skin) skin=$2 ;;
        --engine) engine=$2 ;;
        --hashlist) hashlist=$2 ;;
        --torrents) torrents=$2 ;;
        --sign-key) sign_key=$2 ;;
        --sign-tool) sign_tool=$2 ;;
        --release-version)
          [[ $2 =~ ^[0-9]+$ ]] || die "--release-version must be a whole number, not '$2'"
          release_version=$2 ;;
        --limit-rate)
          [[ $2 =~ ^[0-9]+[kKmM]?$ ]] || die "--limit-rate must be a number with an optional k or m, not '$2'"
          limit_rate=$2 ;;
      esac
      shift 2 ;;
    --generate-only) generate_only=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "demo-server: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done

[ -z "$skin" ] || [ -f "$skin" ] || { echo "demo-server: no skin package at $skin" >&2; exit 2; }

[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] ||
  { echo "demo-server: bad port '$port' (1 to 65535)" >&2; exit 2; }

# Sizes in bytes, one per file.
bytes=()
IFS=, read -r -a size_texts <<<"$sizes"
[ ${#size_texts[@]} -gt 0 ] || { echo "demo-server: --sizes is empty" >&2; exit 2; }
for text in "${size_texts[@]}"; do
  [[ $text =~ ^([0-9]+)([KkMmGg]?)$ ]] ||
    { echo "demo-server: bad size '$text' (a number with an optional K, M or G)" >&2; exit 2; }
  n=$((10#${BASH_REMATCH[1]}))
  case ${BASH_REMATCH[2]} in
    K|k) n=$((n * 1024)) ;;
    M|m) n=$((n * 1024 * 1024)) ;;
    G|g) n=$((n * 1024 * 1024 * 1024)) ;;
  esac
  [ "$n" -gt 0 ] || { echo "demo-server: size '$text' is not above 0" >&2; exit 2; }
  bytes+=("$n")
done

mkdir -p "$dir" || die "cannot create $dir"
dir=$(cd "$dir" && pwd)
game=$dir/www/fullinst
conf=$dir/nginx
mkdir -p "$game" "$conf/tmp" || die "cannot create the folders below $dir"

name_of() {
  printf 'Halvard2.part%02d.bin' "$1"
}

# The pseudo-random bytes of file i: AES-128-CTR over zeros under a key made
# from i, so the same file always gets the same content, at several hundred
# MiB per second.
generate() {
  local i=$1 size=$2 path=$3
  local key
  key=$(printf '%032x' "$((i + 1))")
  openssl enc -aes-128-ctr -K "$key" -iv 00000000000000000000000000000000 -in /dev/zero 2>/dev/null |
    head -c "$size" >"$path.part" || true
  [ "$(stat -c %s "$path.part")" -eq "$size" ] || { rm -f "$path.part"; die "cannot write $path"; }
  mv "$path.part" "$path"
}

# Room for what is still to be written, before writing any of it.
needed=0
for i in "${!bytes[@]}"; do
  path=$game/$(name_of $((i + 1)))
  if [ ! -f "$path" ] || [ "$(stat -c %s "$path")" -ne "${bytes[$i]}" ]; then
    needed=$((needed + bytes[i]))
  fi
done
free=$(df -P -B1 "$game" | awk 'NR == 2 { print $4 }')
[ "$needed" -lt "$free" ] ||
  die "not enough free space in $game: $needed bytes needed, $free free"

total=0
list=$game/filelist.txt
: >"$list.part"
for i in "${!bytes[@]}"; do
  name=$(name_of $((i + 1)))
  path=$game/$name
  if [ ! -f "$path" ] || [ "$(stat -c %s "$path")" -ne "${bytes[$i]}" ]; then
    generate "$((i + 1))" "${bytes[$i]}" "$path"
  fi
  total=$((total + bytes[i]))
  echo "http://127.0.0.1:$port/fullinst/$name" >>"$list.part"
done
installer=Halvard2Setup.exe
cat >"$game/$installer" <<'INSTALLER'
#!/bin/sh
# Demo installer of Halvard2: the game is already in the folder it was
# downloaded to, so installing it only means saying where that is.
folder=$(cd "$(dirname "$0")" && pwd)
echo "Halvard2 demo installer: the game is installed in $folder"
INSTALLER
echo "http://127.0.0.1:$port/fullinst/$installer" >>"$list.part"
mv "$list.part" "$list"
if [ -n "$skin" ]; then
  cp "$skin" "$game/img.zip.part" && mv "$game/img.zip.part" "$game/img.zip" ||
    die "cannot copy the skin package $skin"
else
  rm -f "$game/img.zip"
fi
# Parts of an earlier, larger game are no longer listed; remove them.
for ((i = ${#bytes[@]} + 1; ; i++)); do
  path=$game/$(name_of "$i")
  [ -e "$path" ] || break
  rm -f "$path"
done
echo "demo game: ${#bytes[@]} files and the installer, $total bytes in $game"

# --- signed release metadata (--sign-key) ---
sign_args=()
if [ -n "$sign_key" ]; then
  [ -f "$sign_key" ] || die "no signing key at $sign_key"
  command -v "$sign_tool" >/dev/null || die "no tvx-sign program at $sign_tool"
  [ -n "$release_version" ] || release_version=$(date +%s)
  sign_args=(--sign-key "$sign_key" --sign-tool "$sign_tool" --release-version "$release_version")
  "$sign_tool" file-list --key "$sign_key" --list "$list" --files "$game" \
    --version "$release_version" --valid-days 30 --out "$list.release" >/dev/null ||
    die "cannot sign the file list"
  echo "signed: release $release_version of the file list"
else
  rm -f "$list.release"
fi
# --- end of signed release metadata ---

if [ -n "$engine" ]; then
  "$(dirname "$0")/../update_content/make-update-content.sh" --engine "$engine" --out "$dir/www" \
    --base-url "http://127.0.0.1:$port" --hashlist "$hashlist" "${sign_args[@]}" ||
    die "cannot write the engine update from $engine"
fi

# --- peer assistance (--torrents): metadata beside each file, and a tracker ---
tracker_port=$((port + 1))
if [ -n "$torrents" ]; then
  [ "$tracker_port" -le 65535 ] || die "no port after $port for the tracker"
  rm -f "$game"/*.torrent "$dir/tracker-whitelist"
  "$torrents" --root "$dir/www" --announce "http://127.0.0.1:$tracker_port/announce" \
    --info-hashes "$dir/tracker-whitelist" --list "$list" ||
    die "cannot write the torrent metadata with $torrents"
  chmod 0644 "$dir/tracker-whitelist"
fi
# --- end of peer assistance ---

[ "$generate_only" -eq 0 ] || exit 0

[ -x "$nginx" ] || die "$nginx is missing (install nginx-light: ./scripts/setup.sh)"

cat >"$conf/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $conf/nginx.pid;
error_log $conf/error.log notice;
events { worker_connections 256; }
http {
    access_log $conf/access.log;
    client_body_temp_path $conf/tmp/body;
    proxy_temp_path $conf/tmp/proxy;
    fastcgi_temp_path $conf/tmp/fastcgi;
    uwsgi_temp_path $conf/tmp/uwsgi;
    scgi_temp_path $conf/tmp/scgi;
    types { text/plain txt; application/zip zip; }
    default_type application/octet-stream;
    sendfile on;
    keepalive_timeout 10;
    server {
        listen 127.0.0.1:$port;
        root $dir/www;
        server_tokens off;
        ${limit_rate:+limit_rate $limit_rate;}
    }
}
CONF

rm -f "$conf/nginx.pid"
nginx_pid=
tracker_pid=
stop() {
  if [ -n "$tracker_pid" ]; then
    kill -TERM "$tracker_pid" 2>/dev/null || true
    wait "$tracker_pid" 2>/dev/null || true
    tracker_pid=
  fi
  if [ -n "$nginx_pid" ]; then
    kill -TERM "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
  fi
}
trap 'stop; exit 0' TERM INT
trap stop EXIT

"$nginx" -p "$conf/" -c "$conf/nginx.conf" -e "$conf/error.log" </dev/null >>"$conf/stderr.log" 2>&1 &
nginx_pid=$!

# nginx writes its pid file once it listens.
for _ in $(seq 1 200); do
  if ! kill -0 "$nginx_pid" 2>/dev/null; then
    nginx_pid=
    echo "demo-server: nginx did not start:" >&2
    tail -n 5 "$conf/error.log" "$conf/stderr.log" >&2 2>/dev/null || true
    exit 1
  fi
  [ "$(cat "$conf/nginx.pid" 2>/dev/null)" = "$nginx_pid" ] && break
  sleep 0.05
done
[ "$(cat "$conf/nginx.pid" 2>/dev/null)" = "$nginx_pid" ] || die "nginx did not start in time"

[ -z "$skin" ] || echo "skin: http://127.0.0.1:$port/fullinst/img.zip"
if [ -n "$torrents" ]; then
  # Debian's opentracker serves only whitelisted torrents; it drops to the
  # user nobody, so the whitelist must be readable by everyone.
  command -v opentracker >/dev/null || die "opentracker is missing (./scripts/setup.sh)"
  opentracker -i 127.0.0.1 -p "$tracker_port" -P "$tracker_port" -w "$dir/tracker-whitelist" \
    </dev/null >>"$conf/tracker.log" 2>&1 &
  tracker_pid=$!
  echo "tracker: http://127.0.0.1:$tracker_port/announce"
fi
echo "file list: http://127.0.0.1:$port/fullinst/filelist.txt"
# wait returns early when a trapped signal arrives; the trap then stops nginx.
wait "$nginx_pid" || true
nginx_pid=
die "nginx ended unexpectedly (see $conf/error.log)"
