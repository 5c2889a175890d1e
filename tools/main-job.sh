#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs the main job: the demo.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev >/dev/null
cmake --build build -j2
# The demo: a whole replication on SQLite in a fresh folder, checked as it goes.
rm -rf build/demo
build/app/tamaril-cli/tamaril-cli demo build/demo
