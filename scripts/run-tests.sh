#!/usr/bin/env bash
# Runs every test of a build directory.
set -euo pipefail
build=${1:-build}
cd "$build"
ctest --output-on-failure -j2 --timeout 600
