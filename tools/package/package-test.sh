#!/usr/bin/env bash
# Builds the launcher's Debian package with the demo server's URLs, checks
# what it holds, and installs it with apt-get on a clean Debian root (made with
# debootstrap --variant=minbase: nothing but the package and what it pulls
# in). An ordinary user of that root then downloads the demo game with the
# installed /opt/Velmora/tvx-launcher in its terminal view, from the demo
# server on this machine, which also serves the engine's update; the test
# checks that the engine the update installed carried the download.
#
#   tools/package/package-test.sh [--build DIR] [--port N] [--sizes LIST] [--keep-work]
#
#   --build DIR   build folder of the package (default build/package)
#   --port N      loopback port of the demo server (default 18080)
#   --sizes LIST  sizes of the demo game's files (default 1M,3M,2M)
#   --keep-work   keep the temporary folder (logs, the root, the downloaded game)
#
# Needs root: debootstrap, chroot, mount and network namespaces. The clean
# base root is made once and kept as a tar file in $TVX_PACKAGE_TEST_CACHE
# (default /var/cache/tvx-package-test), with the packages that were fetched
# for it; apt in the root takes the packages this machine already downloaded
# and fetches only the rest. The root lives in the temporary folder; every
# mount is made in a mount namespace of the test's own, so nothing stays
# mounted, and the demo runs in a network namespace of its own (only loopback
# and a link for the network probe), so nothing reaches another network and
# no port of this machine is taken.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
self=$root/tools/package/package-test.sh
readonly launcher=/opt/Velmora/tvx-launcher
readonly title=Halvard2
readonly complete_question='지금 실행 하시겠습니까?'
readonly installer_line="$title demo installer: the game is installed in"
readonly suite=bookworm
readonly user=player
cache=${TVX_PACKAGE_TEST_CACHE:-/var/cache/tvx-package-test}

die() {
  echo "package-test: $*" >&2
  exit 1
}

# Waits until file holds text (a fixed string), while pid still runs; at most
# limit seconds.
wait_for() {
  local file=$1 text=$2 pid=$3 limit=$4
  local end=$((SECONDS + limit))
  while [ "$SECONDS" -lt "$end" ]; do
    grep -qF -- "$text" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || { grep -qF -- "$text" "$file" 2>/dev/null; return; }
    sleep 0.1
  done
  return 1
}

# Inside the test's own mount namespace: the root's /proc (of the namespace's
# processes when in a process namespace of its own too).
mount_proc() {
  local target=$1
  mount --make-rprivate / 2>/dev/null || true
  mount -t proc proc "$target/proc"
}

# In a mount namespace: apt-get installs the package in the clean root,
# without recommended packages, as a user would.
install_in_root() {
  local target=$1 deb=$2
  mount_proc "$target"
  local apt=(chroot "$target" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive
    LANG=C.UTF-8 apt-get -q -y -o Dpkg::Options::=--force-unsafe-io)
  # The lists are this machine's (so its downloaded packages match them); when
  # one that is missing here is no longer on the mirror, fresh lists serve.
  if ! "${apt[@]}" install --no-install-recommends "/tmp/$(basename "$deb")"; then
    echo "== the lists of this machine did not serve; fetching fresh ones"
    "${apt[@]}" update && "${apt[@]}" install --no-install-recommends "/tmp/$(basename "$deb")"
  fi
}

# The demo, inside the private mount, network and process namespaces: the
# demo server (with the engine's update) on loopback, and the launcher
# installed in the clean root run by its ordinary user and driven through a
# pipe, as a user at a terminal would: "start" once it is accepted, then "y"
# to the question whether to run the installer now.
run_demo() {
  local work=$1 port=$2 sizes=$3 build=$4
  local target=$work/root
  mount_proc "$target"
  ip link set lo up
  # The launcher only downloads while a network other than loopback is up;
  # this link has an address but leads nowhere.
  ip link add tvxpkg0 type veth peer name tvxpkg0p
  ip addr add 198.18.0.1/32 dev tvxpkg0
  ip link set tvxpkg0p up
  ip link set tvxpkg0 up

  # Not local: the exit trap reads them after this function has gone.
  server_pid=''
  launcher_pid=''
  stop_demo() {
    exec 3>&-
    local pid
    for pid in $launcher_pid $server_pid; do
      kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in $launcher_pid $server_pid; do
      wait "$pid" 2>/dev/null || true
    done
  }
  trap stop_demo EXIT

  "$root/tools/demo_server/demo-server.sh" --dir "$work/server" --port "$port" --sizes "$sizes" \
    --skin "$work/skin/img.zip" --engine "$build/engine/vrDownload.exe" \
    --hashlist "$build/tools/hashlist/tvx-hashlist" >"$work/server.out" 2>&1 &
  server_pid=$!
  wait_for "$work/server.out" "file list: " "$server_pid" 120 ||
    { cat "$work/server.out" >&2; die "the demo server did not start"; }
  grep -F "update content:" "$work/server.out" || true

  local uid home=/home/$user
  uid=$(chroot "$target" id -u "$user")
  install -d -m 700 -o "$uid" -g "$uid" "$target/run/user/$uid"
  mkfifo "$work/input"
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot --userspec="$user:$user" "$target" env -i \
    PATH=/usr/bin:/bin HOME="$home" USER="$user" XDG_RUNTIME_DIR="/run/user/$uid" LANG=C.UTF-8 \
    TVX_VIEW=terminal "$launcher" <"$work/input" >"$work/launcher.out" 2>&1 &
  launcher_pid=$!
  exec 3>"$work/input"
  # A launcher that ends early must fail the run with its output, not end
  # this script by a broken pipe.
  trap '' PIPE

  local out=$work/launcher.out started=0 refused
  # Start is offered once the skin is applied and the sizes are known.
  wait_for "$out" "skin: " "$launcher_pid" 60 || { cat "$out" >&2; die "the launcher never applied the skin"; }
  for _ in $(seq 1 120); do
    refused=$(grep -c "start: not available now" "$out" || true)
    echo start >&3 || break
    sleep 0.5
    if [ "$(grep -c "start: not available now" "$out" || true)" -eq "$refused" ]; then
      started=1
      break
    fi
    kill -0 "$launcher_pid" 2>/dev/null || break
  done
  [ "$started" -eq 1 ] || { cat "$out" >&2; die "the launcher never accepted start"; }

  wait_for "$out" "$complete_question" "$launcher_pid" 240 ||
    { cat "$out" >&2; die "the download did not complete"; }
  echo y >&3 || true
  exec 3>&-

  local end=$((SECONDS + 30))
  while kill -0 "$launcher_pid" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do
    sleep 0.1
  done
  kill -0 "$launcher_pid" 2>/dev/null && { cat "$out" >&2; die "the launcher did not end"; }
  local status=0
  wait "$launcher_pid" || status=$?
  launcher_pid=
  # The installer runs on after the launcher has ended.
  local folder=$home/Download/halvard2
  wait_for "$out" "$installer_line $folder" "$$" 30 ||
    { cat "$out" >&2; die "no line from the installer"; }
  echo "launcher: ended with $status; $(grep -F "$installer_line" "$out")"

  local served=$work/server/www/fullinst listed=0 same=0 name
  while read -r url; do
    [ -n "$url" ] || continue
    listed=$((listed + 1))
    name=${url##*/}
    cmp -s "$served/$name" "$target$folder/$name" && same=$((same + 1))
  done <"$served/filelist.txt"
  echo "download: $same of $listed listed files byte-identical in $folder"
  [ "$same" -eq "$listed" ] && [ "$listed" -gt 0 ] || die "the downloaded game differs from the served one"
  [ "$status" -eq 0 ] || die "the launcher ended with $status"

  # The job went through the engine that the update installed: the library
  # never started its direct path, and the engine fetched the game's bytes.
  local data=$target$home/.local/share service
  service=$(find "$data" -name service.log -path '*/config/*' | head -n 1)
  [ -n "$service" ] || die "no service.log below $data"
  cp "$service" "$work/service.log"
  local engine_folder=$data/Brenholt/vrDownloader
  [ -f "$engine_folder/vrDownload.log" ] && cp "$engine_folder/vrDownload.log" "$work/vrDownload.log"
  grep -qF "[TarvoLib] Patch Success" "$service" ||
    { cat "$service" >&2; cat "$engine_folder/vrDownload.err" >&2 2>/dev/null || true
      die "the engine from the update did not start in the clean root"; }
  if grep -F "[TarvoLib] CPlatFormDownloader Begin" "$service" >&2; then
    cat "$service" >&2
    die "a job went the direct path"
  fi
  local engine_bytes
  engine_bytes=$(awk -v dir=/fullinst/ '$7 ~ "^" dir && ($9 == 200 || $9 == 206) && /"vrDownload"$/ { n += $10 }
    END { print n + 0 }' "$work/server/nginx/access.log")
  local game_bytes
  game_bytes=$(while read -r url; do [ -n "$url" ] && stat -c %s "$served/${url##*/}"; done \
    <"$served/filelist.txt" | awk '{ n += $1 } END { print n + 0 }')
  echo "engine: $engine_bytes bytes of the game's $game_bytes fetched by the engine;" \
    "libraries carried: $(ls "$engine_folder/lib" 2>/dev/null | wc -l)"
  [ "$engine_bytes" -ge "$game_bytes" ] || die "the engine did not fetch the game"
}

if [ "${1:-}" = "--install-in-root" ]; then
  shift
  install_in_root "$@"
  exit 0
fi
if [ "${1:-}" = "--run-demo" ]; then
  shift
  run_demo "$@"
  exit 0
fi

build=$root/build/package
port=18080
sizes=1M,3M,2M
keep_work=0
while [ $# -gt 0 ]; do
  case $1 in
    --build|--port|--sizes)
      [ $# -ge 2 ] && [ -n "$2" ] || die "$1 needs a value"
      case $1 in
        --build) build=$2 ;;
        --port) port=$2 ;;
        --sizes) sizes=$2 ;;
      esac
      shift 2 ;;
    --keep-work) keep_work=1; shift ;;
    -h|--help) sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown option $1 (see --help)" ;;
  esac
done
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || die "bad port '$port'"
build=$(realpath -m -- "$build")
[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, chroot, mount and network namespaces)"

cd "$root"
./scripts/setup.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/tvx-package-test.XXXXXX")
cleanup() {
  local status=$?
  # Every mount was made in a namespace that has ended; never remove a
  # folder through something still mounted in it.
  if findmnt -rn -o TARGET | grep -qF -- "$work"; then
    echo "package-test: something is still mounted below $work; left in place" >&2
    exit 1
  fi
  if [ "$keep_work" -eq 1 ]; then
    echo "work folder kept: $work"
  else
    rm -rf "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

base=http://127.0.0.1:$port
echo "== building the package in $build (log in $work/build.log)"
# A package is a release build without tests, so it trusts no test CA.
{
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTVX_BUILD_TESTS=OFF \
    -DTVX_BUILD_BENCH=OFF -DTVX_FILELIST_URL="$base/fullinst/filelist.txt" \
    -DTVX_SKIN_URL="$base/fullinst/img.zip" -DTVX_UPDATE_SERVER_URL="$base" &&
    cmake --build "$build" -j "$(nproc)" &&
    rm -f "$build"/*.deb &&
    (cd "$build" && cpack -G DEB)
} >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; die "the package build failed"; }
debs=("$build"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "expected one .deb in $build, found: ${debs[*]}"
deb=${debs[0]}
package=$(dpkg-deb -f "$deb" Package)
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

echo "== checking what it holds"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort >"$work/files"
sed 's/^/  /' "$work/files"
for want in "$launcher" "/usr/share/applications/$package.desktop" \
  "/usr/share/icons/hicolor/48x48/apps/$package.png" \
  "/usr/share/icons/hicolor/256x256/apps/$package.png"; do
  grep -qxF "$want" "$work/files" || die "the package lacks $want"
done
# Only the launcher, its menu entry and icons: no engine (it comes through its
# update), no tools, tests or benchmarks.
extra=$(grep -vxE "$launcher|/usr/share/applications/$package\.desktop|/usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/$package\.png" \
  "$work/files" || true)
[ -z "$extra" ] || die "the package holds more than the launcher: $extra"
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for want in libqt6widgets6 libssl3 libc6 fonts-nanum ca-certificates; do
  [[ $depends == *"$want"* ]] || die "Depends lacks $want"
done
dpkg-deb -x "$deb" "$work/unpacked"
desktop-file-validate "$work/unpacked/usr/share/applications/$package.desktop" ||
  die "the menu entry does not validate"
grep -qxF "Exec=$launcher" "$work/unpacked/usr/share/applications/$package.desktop" ||
  die "the menu entry does not start $launcher"
grep -qxF "Name=$title" "$work/unpacked/usr/share/applications/$package.desktop" ||
  die "the menu entry is not named $title"
! grep -qaF "TVX test CA" "$work/unpacked$launcher" || die "the packaged launcher trusts the tests' CA"
echo "menu entry: valid; Exec=$launcher, Name=$title; no test CA"

echo "== the clean Debian root ($suite, minbase)"
base_tar=$cache/$suite-minbase.tar
mkdir -p "$cache/debs"
if [ ! -f "$base_tar" ]; then
  mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  mirror=${mirror:-http://deb.debian.org/debian}
  echo "making it once with debootstrap from $mirror (log in $work/debootstrap.log)"
  timeout 900 debootstrap --variant=minbase "$suite" "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log" >&2; die "debootstrap failed"; }
  # What it fetched serves later installs; the base itself keeps no packages.
  cp -n "$work/base"/var/cache/apt/archives/*.deb "$cache/debs/" 2>/dev/null || true
  rm -f "$work/base"/var/cache/apt/archives/*.deb
  tar -C "$work/base" --numeric-owner -cf "$base_tar.part" . && mv "$base_tar.part" "$base_tar" ||
    die "cannot write $base_tar"
  rm -rf "$work/base"
fi
target=$work/root
mkdir "$target"
tar -C "$target" --numeric-owner -xf "$base_tar" || die "cannot unpack $base_tar"
echo "root: $target (from $base_tar)"

echo "== installing with apt-get in the root (log in $work/install.log)"
# apt there reads this machine's sources and lists, and finds the packages
# this machine downloaded (and those kept from earlier runs) in its cache.
rm -rf "$target/etc/apt/sources.list.d" "$target/etc/apt/sources.list"
cp -a /etc/apt/sources.list.d "$target/etc/apt/"
[ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$target/etc/apt/"
find /var/lib/apt/lists -maxdepth 1 -type f ! -name lock -exec cp -t "$target/var/lib/apt/lists/" {} +
cp -L /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
for dir in /var/cache/apt/archives "$cache/debs"; do
  for f in "$dir"/*.deb; do
    [ -f "$f" ] || continue
    ln "$f" "$target/var/cache/apt/archives/" 2>/dev/null || cp "$f" "$target/var/cache/apt/archives/"
  done
done
cp "$deb" "$target/tmp/"
started=$SECONDS
timeout -k 10 600 unshare -m -- "$self" --install-in-root "$target" "$deb" >"$work/install.log" 2>&1 ||
  { tail -n 40 "$work/install.log" >&2; die "apt-get cannot install $(basename "$deb") in the clean root"; }
chroot "$target" dpkg-query -W -f='${Status}' "$package" | grep -q "install ok installed" ||
  die "$package is not installed in the root"
[ -x "$target$launcher" ] || die "$launcher is not there after the install"
echo "installed: $(chroot "$target" dpkg-query -W -f='${Package} ${Version}' "$package")," \
  "$(chroot "$target" dpkg-query -W -f='${Package}\n' | wc -l) packages in the root, in $((SECONDS - started)) s"
# Packages fetched now serve the next run.
for f in "$target"/var/cache/apt/archives/*.deb; do
  [ -f "$f" ] && [ "$(stat -c %h "$f")" -eq 1 ] && [ "$(basename "$f")" != "$(basename "$deb")" ] &&
    cp -n "$f" "$cache/debs/"
done
chroot "$target" useradd --create-home --shell /bin/sh "$user" || die "cannot add the user $user"

echo "== demo: $user runs the installed launcher in the root against the demo server on $base"
"$build/tools/skin_maker/tvx-skin-maker" --out "$work/skin" --title "$title" >"$work/skin.log" 2>&1 ||
  { cat "$work/skin.log" >&2; die "cannot make the skin package"; }
started=$SECONDS
# Mount, network and process namespaces: whatever way the run ends, nothing
# it mounted stays mounted and nothing it started (the demo's nginx, the
# launcher, its engine, the installer) outlives it.
timeout -k 10 420 unshare -m -n -p -f --kill-child -- "$self" --run-demo "$work" "$port" "$sizes" "$build" ||
  die "the demo run failed (see above)"
echo "demo: passed in $((SECONDS - started)) s"
