#!/usr/bin/env bash
# Writes the whole content of the engine update server from one engine file:
#
#   make-update-content.sh --engine FILE --out DIR --base-url URL
#                          [--hashlist TOOL] [--version TEXT] [--no-libraries]
#                          [--sign-key KEY --sign-tool TOOL --release-version N]
#
#   --engine FILE    the engine program (installed as vrDownload.exe)
#   --out DIR        the server's document root; ActiveX/update/ is written below it
#   --base-url URL   the address the server is reached at, e.g. http://127.0.0.1:18080
#   --hashlist TOOL  the tvx-hashlist program (default: tvx-hashlist in PATH)
#   --version TEXT   the offered version (default: the engine's .fileversion text)
#   --no-libraries   the engine alone, without its shared libraries (for tests
#                    on a machine that has the engine's libraries installed)
#   --sign-key KEY   sign the manifest and its archives with this Ed25519
#                    private key into QGM_updater.xml.release (tvx-sign
#                    engine-update); without it the update is unsigned
#   --sign-tool TOOL the tvx-sign program (default: tvx-sign in PATH)
#   --release-version N  the signed release version (default: the time now)
#
# Writes ActiveX/update/QGM_updater.xml, vrDownload.7z and vrDownload.zip (made
# with the 7zz and zip commands) and their hash lists (<archive>.hash). The
# manifest's all/all entry names the 7z archive, the engine's own entry the zip.
#
# The archives carry the engine self-contained: every shared library it needs
# on this machine, except the C library's own, goes into their lib/ folder,
# where the engine (linked with the run path $ORIGIN/lib) finds them first. So
# the engine runs wherever the C library is as new as this machine's, however
# its dependencies change from one version to the next.
set -euo pipefail

engine= out= base= hashlist=tvx-hashlist version= libraries=1
sign_key= sign_tool=tvx-sign release_version=
readonly name=vrDownload.exe

usage() {
  sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'
}
die() {
  echo "make-update-content: $*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case $1 in
    --engine|--out|--base-url|--hashlist|--version|--sign-key|--sign-tool|--release-version)
      [ $# -ge 2 ] && [ -n "$2" ] || { echo "make-update-content: $1 needs a value" >&2; usage >&2; exit 2; }
      case $1 in
        --engine) engine=$2 ;;
        --out) out=$2 ;;
        --base-url) base=${2%/} ;;
        --hashlist) hashlist=$2 ;;
        --version) version=$2 ;;
        --sign-key) sign_key=$2 ;;
        --sign-tool) sign_tool=$2 ;;
        --release-version) release_version=$2 ;;
      esac
      shift 2 ;;
    --no-libraries) libraries=0; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "make-update-content: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
[ -n "$engine" ] && [ -n "$out" ] && [ -n "$base" ] || { usage >&2; exit 2; }
[ -f "$engine" ] || die "no engine file at $engine"
[[ $base =~ ^https?://[^/]+$ ]] || die "bad base URL '$base' (http://host[:port])"
command -v 7zz >/dev/null || die "7zz is missing (package 7zip: ./scripts/setup.sh)"
command -v zip >/dev/null || die "zip is missing (package zip: ./scripts/setup.sh)"
command -v "$hashlist" >/dev/null || die "no hash-list tool at $hashlist"

if [ -z "$version" ]; then
  command -v objcopy >/dev/null || die "objcopy is missing (package binutils)"
  section=$(mktemp)
  trap 'rm -f "$section"' EXIT
  objcopy -O binary --only-section=.fileversion "$engine" "$section" 2>/dev/null ||
    die "$engine is not an ELF program (give --version)"
  version=$(tr -d '\000' <"$section")
  [ -n "$version" ] || die "$engine has no .fileversion section (give --version)"
fi

# The text of an XML attribute value.
xml() {
  local t=$1
  t=${t//&/&amp;}; t=${t//</&lt;}; t=${t//>/&gt;}; t=${t//\"/&quot;}
  printf '%s' "$t"
}

target=$out/ActiveX/update
mkdir -p "$target" || die "cannot create $target"
work=$(mktemp -d)
trap 'rm -rf "$work" ${section:+"$section"}' EXIT
cp "$engine" "$work/$name"
chmod 0755 "$work/$name"
contents=("$name")
if [ "$libraries" -eq 1 ]; then
  command -v readelf >/dev/null || die "readelf is missing (package binutils)"
  command -v ldd >/dev/null || die "ldd is missing (package libc-bin)"
  # Without this run path the engine would look for its libraries only where
  # the system keeps them, and the bundle would be of no use.
  readelf -d "$engine" 2>/dev/null | grep -E '\((RPATH|RUNPATH)\)' | grep -qF '$ORIGIN/lib' ||
    die "$engine does not look for its libraries in \$ORIGIN/lib (build it with this project, or give --no-libraries)"
  mkdir "$work/lib"
  # The libraries as this machine's loader resolves them (ldd), under the
  # names the engine asks for. The C library's own stay out: its loader is
  # named by an absolute path in every program, and it must match them.
  listing=$(ldd "$engine") || die "ldd cannot read $engine"
  while read -r soname _ path _; do
    case $soname in
      ld-linux*|libc.so.*|libm.so.*|libmvec.so.*|libpthread.so.*|libdl.so.*|librt.so.*|\
      libresolv.so.*|libutil.so.*|libanl.so.*|libnsl.so.*|libnss_*|libBrokenLocale.so.*|\
      libthread_db.so.*|libc_malloc_debug.so.*|libmemusage.so|libpcprofile.so)
        continue ;;
    esac
    [ -n "$path" ] && [ "${path#/}" != "$path" ] || continue
    cp -L "$path" "$work/lib/$soname" || die "cannot copy $path"
    chmod 0644 "$work/lib/$soname"
  done < <(printf '%s\n' "$listing" | awk '$2 == "=>" { print $1, $2, $3 }')
  if missing=$(printf '%s\n' "$listing" | grep -F 'not found'); then
    die "the engine needs libraries this machine lacks: $missing"
  fi
  contents+=(lib)
fi
(cd "$work" && 7zz a -t7z -bd -bso0 -bsp0 vrDownload.7z "${contents[@]}" &&
  zip -q -X -r vrDownload.zip "${contents[@]}") ||
  die "cannot make the archives"
for archive in vrDownload.7z vrDownload.zip; do
  "$hashlist" "$work/$archive" "$work/$archive.hash" || die "cannot make the hash list of $archive"
done

url=$base/ActiveX/update
cat >"$work/QGM_updater.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<update>
  <file>
    <$name ver="$(xml "$version")" url="$(xml "$url/vrDownload.zip")" hash="$(xml "$url/vrDownload.zip.hash")"/>
  </file>
  <all>
    <all url="$(xml "$url/vrDownload.7z")" hash="$(xml "$url/vrDownload.7z.hash")"/>
  </all>
</update>
XML

signed=()
if [ -n "$sign_key" ]; then
  [ -f "$sign_key" ] || die "no signing key at $sign_key"
  [ -n "$release_version" ] || release_version=$(date +%s)
  [[ $release_version =~ ^[0-9]+$ ]] || die "--release-version must be a whole number"
  "$sign_tool" engine-update --key "$sign_key" --manifest "$work/QGM_updater.xml" --files "$work" \
    --version "$release_version" --valid-days 30 --out "$work/QGM_updater.xml.release" >/dev/null ||
    die "cannot sign the update"
  signed=(QGM_updater.xml.release)
else
  rm -f "$target/QGM_updater.xml.release"
fi

# Archives and hash lists first, the manifest last: a client never reads a
# manifest that names files not yet there.
for f in vrDownload.7z vrDownload.7z.hash vrDownload.zip vrDownload.zip.hash "${signed[@]}" QGM_updater.xml; do
  mv -f "$work/$f" "$target/$f" || die "cannot write $target/$f"
done
echo "update content: version $version in $target ($(
  [ "$libraries" -eq 1 ] && echo "with $(ls "$work/lib" | wc -l) libraries" || echo "engine alone"))"
