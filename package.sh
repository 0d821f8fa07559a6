#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# build/quorvix_<version>_amd64.deb.
source "$(dirname "$0")/tools/setup.sh"
# dpkg-shlibdeps computes the Depends; file finds the binaries it looks at.
quorvix_install_packages dpkg-dev file
quorvix_build "$QUORVIX_BUILD"
cd "$QUORVIX_BUILD"
cpack -G DEB
