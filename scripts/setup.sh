#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: packages
# already present are skipped and the package index is refreshed at most once.
set -euo pipefail

packages=(
  # build
  cmake g++ ninja-build pkg-config
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3
  # zip, 7z, TLS (servers are verified against the system trust store)
  zlib1g-dev libminizip-dev libarchive-dev libssl-dev ca-certificates
  # launcher UI
  qt6-base-dev fonts-nanum
  # Qt's own texts (the message boxes' buttons) in the user's language
  qt6-translations-l10n
  # real servers, archives and network namespaces in tests
  nginx-light openssl 7zip zip unzip iproute2
  # the data download benchmark compares with curl
  curl
  # the package, the check of its menu entry, and the clean Debian root the
  # package test installs it on
  dpkg-dev desktop-file-utils debootstrap
  # the stand-in local engine downloads over libcurl, and with peers over
  # libtorrent; the demo server and the swarm bench run a BitTorrent tracker
  libcurl4-openssl-dev libtorrent-rasterbar-dev opentracker
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
