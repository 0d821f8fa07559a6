#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite with CTest: once
# as built for use, once under AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "$0")/tools/setup.sh"
# What the package checks use besides the build itself.
quorvix_install_packages dpkg-dev file desktop-file-utils appstream lintian man-db
export QT_QPA_PLATFORM=offscreen

quorvix_build "$QUORVIX_BUILD"
(cd "$QUORVIX_BUILD" && ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "$@")

if [ "${QUORVIX_SKIP_SANITIZERS:-0}" != 1 ]; then
    sanitized=$QUORVIX_ROOT/build-sanitize
    quorvix_build "$sanitized" -DCMAKE_BUILD_TYPE=Debug -DQUORVIX_SANITIZE=ON -DQUORVIX_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS=suppressions=$QUORVIX_ROOT/tools/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    (cd "$sanitized" && ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "$@")
fi
