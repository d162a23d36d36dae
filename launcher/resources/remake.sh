#!/usr/bin/env bash
# Draws the built-in pictures again (wait animation, agreement notice) with
# the project's own generator, tools/launcher_art, into this folder.
# Usage: launcher/resources/remake.sh [build folder, default build/release]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/release}
cmake --build "$build" --target tvx-launcher-art
"$build/tools/launcher_art/tvx-launcher-art" "$here"
