#!/usr/bin/env bash
# Builds the launcher's Debian package with the demo server's URLs, checks
# what it holds, installs it on this machine with apt-get, downloads the demo
# game with the installed /opt/Velmora/tvx-launcher in its terminal view, and
# removes the package again, whatever happens on the way.
#
#   tools/package/package-test.sh [--build DIR] [--port N] [--sizes LIST] [--keep-work]
#
#   --build DIR   build folder of the package (default build/package)
#   --port N      loopback port of the demo server (default 18080)
#   --sizes LIST  sizes of the demo game's files (default 1M,3M,2M)
#   --keep-work   keep the temporary folder (logs, the downloaded game)
#
# Needs root: apt-get installs the package, and the demo runs in a network
# namespace of its own (only loopback and a link for the network probe), so
# that nothing reaches another network and no port of this machine is taken.
# Refuses to run while the package (or another launcher in /opt/Velmora) is
# installed, as it removes the package at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
self=$root/tools/package/package-test.sh
readonly launcher=/opt/Velmora/tvx-launcher
readonly title=Halvard2
readonly complete_question='지금 실행 하시겠습니까?'
readonly installer_line="$title demo installer: the game is installed in"

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

# The demo, inside the private network namespace: the demo server on
# loopback and the installed launcher driven through a pipe, as a user at a
# terminal would: "start" once it is accepted, then "y" to the question
# whether to run the installer now.
run_demo() {
  local work=$1 port=$2 sizes=$3
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
    --skin "$work/skin/img.zip" >"$work/server.out" 2>&1 &
  server_pid=$!
  wait_for "$work/server.out" "file list: " "$server_pid" 60 ||
    { cat "$work/server.out" >&2; die "the demo server did not start"; }

  # A home of its own, so that the run neither reads nor leaves anything in
  # a real user's folders.
  local home=$work/home
  mkdir -p "$home" "$work/runtime"
  chmod 700 "$work/runtime"
  mkfifo "$work/input"
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$work" \
    LANG=C.UTF-8 TVX_VIEW=terminal "$launcher" <"$work/input" >"$work/launcher.out" 2>&1 &
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
    cmp -s "$served/$name" "$folder/$name" && same=$((same + 1))
  done <"$served/filelist.txt"
  echo "download: $same of $listed listed files byte-identical in $folder"
  [ "$same" -eq "$listed" ] && [ "$listed" -gt 0 ] || die "the downloaded game differs from the served one"
  [ "$status" -eq 0 ] || die "the launcher ended with $status"
}

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
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown option $1 (see --help)" ;;
  esac
done
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || die "bad port '$port'"
# apt-get takes a package file by its path only when it begins with / or ./.
build=$(realpath -m -- "$build")
[ "$(id -u)" -eq 0 ] || die "needs root (apt-get and a network namespace)"

cd "$root"
./scripts/setup.sh

package=
if [ -e "$launcher" ]; then
  die "$launcher is already installed ($(dpkg -S "$launcher" 2>/dev/null || echo 'by no package')); remove it first"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tvx-package-test.XXXXXX")
installed=0
cleanup() {
  local status=$?
  if [ "$installed" -eq 1 ] && dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
    echo "== removing $package"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$package" >"$work/remove.log" 2>&1 ||
      { cat "$work/remove.log" >&2; echo "package-test: cannot remove $package" >&2; status=1; }
  fi
  if [ -e "$launcher" ]; then
    echo "package-test: $launcher is still there after the removal" >&2
    status=1
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
for want in libqt6widgets6 libssl3 libc6 fonts-nanum; do
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

echo "== installing with apt-get"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; die "apt-get cannot install $deb"; }
[ -x "$launcher" ] || die "$launcher is not there after the install"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' "$package")"

echo "== demo: the installed launcher against the demo server on $base"
"$build/tools/skin_maker/tvx-skin-maker" --out "$work/skin" --title "$title" >"$work/skin.log" 2>&1 ||
  { cat "$work/skin.log" >&2; die "cannot make the skin package"; }
started=$SECONDS
# A process namespace too: whatever way the run ends, nothing it started
# (the demo's nginx, the launcher, the installer) outlives it.
timeout -k 10 420 unshare -n -p -f --kill-child -- "$self" --run-demo "$work" "$port" "$sizes" ||
  die "the demo run failed (see above)"
echo "demo: passed in $((SECONDS - started)) s"
