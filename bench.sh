#!/usr/bin/env bash
# Builds and runs the receive-path benchmark; prints one table of figures.
source "$(dirname "$0")/tools/setup.sh"
# The build's progress goes to stderr, so stdout is the table alone.
quorvix_build "$QUORVIX_BUILD" >&2
export QT_QPA_PLATFORM=offscreen
exec "$QUORVIX_BUILD/bench/quorvix_bench" "$@"
