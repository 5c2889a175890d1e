#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev >/dev/null
cmake --build build -j2
mkdir -p build/home
build/app/tamaril-cli/tamaril-cli --home build/home settings
