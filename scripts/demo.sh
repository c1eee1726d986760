#!/bin/bash
# Sets up the machine and builds both programs.
set -euo pipefail
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target Korvex KorvexService
ls -l build/windows/client/Korvex.exe build/windows/service/KorvexService.exe
