#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quorvix.
source "$(dirname "$0")/tools/setup.sh"
quorvix_build "$QUORVIX_BUILD"
exec "$QUORVIX_BUILD/quorvix" "$@"
