#!/usr/bin/env bash
# Starts the window from a build folder, or says what is missing.
set -euo pipefail
build=${1:-build}
if [ -x "$build/app/quillon" ]; then
  exec "$build/app/quillon"
fi
echo "run: the build is complete, but the window is not built yet (no $build/app/quillon)."
