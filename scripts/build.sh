#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds the host build (driver image, host video port,
# torvic-sim and the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
