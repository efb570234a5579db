#!/usr/bin/env bash
# Installs what is missing and builds the project. The programs are written
# to build/bin/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"
echo "Built. Programs are in build/bin/."
