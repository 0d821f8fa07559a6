#!/usr/bin/env bash
# Builds and runs the receive-path benchmark; prints one table of figures.
source "$(dirname "$0")/tools/setup.sh"
quorvix_build "$QUORVIX_BUILD"
export QT_QPA_PLATFORM=offscreen
exec "$QUORVIX_BUILD/bench/quorvix_bench" "$@"
