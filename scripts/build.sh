#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds the host build (driver image, host video port,
# torvic-sim and the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/configure.sh default
cmake --build --preset default
