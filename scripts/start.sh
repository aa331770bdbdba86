#!/usr/bin/env bash
# Builds Corvanta (installing what is missing) and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/app/corvanta ]; then
  exec build/app/corvanta "$@"
fi
exec build/cli/corvanta-cli --help
