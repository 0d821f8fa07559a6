#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite with CTest.
source "$(dirname "$0")/tools/setup.sh"
quorvix_build "$QUORVIX_BUILD"
export QT_QPA_PLATFORM=offscreen
cd "$QUORVIX_BUILD"
ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "$@"
