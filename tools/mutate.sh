#!/usr/bin/env bash
# Shows that the test suite bites: applies each deliberate fault of a list to
# the source tree, one at a time, rebuilds the plain build, runs the suite
# until its first failure, and restores the file.
#
#   tools/mutate.sh [--check] [fault list] [ctest arguments...]
#
# --check only tells whether every fault still applies to the tree.
#
# A fault list has blocks separated by lines of "%%"; each block is
#   file: path/relative/to/the/root
#   what: one line saying what the fault is
#   from:
#   <the exact text to replace, one or more lines>
#   to:
#   <the text to put in its place>
# The text after "from:" must occur exactly once in the file.
# A block without a "file:" line is a comment.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check_only=0
[ "${1:-}" = --check ] && { check_only=1; shift; }
list=${1:-$root/tools/mutations.txt}
shift $(( $# > 0 ? 1 : 0 ))
source "$root/tools/setup.sh"
set +e
export QT_QPA_PLATFORM=offscreen
# A fault that leaves a box open or a wait unmet fails its test function in a
# minute, not at the end of the test's whole CTest timeout.
export QTEST_FUNCTION_TIMEOUT=${QTEST_FUNCTION_TIMEOUT:-60000}
build=$QUORVIX_BUILD

if [ "$check_only" = 0 ]; then
    quorvix_build "$build" >/dev/null || { echo "the unchanged tree does not build" >&2; exit 2; }
    # Against a suite that already fails, every fault would read as caught.
    (cd "$build" && ctest --parallel "$(nproc)" "$@" >/dev/null 2>&1) \
        || { echo "the suite fails on the unchanged tree" >&2; exit 2; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One file per fault: fault.N holds its block.
awk -v dir="$work" '/^%%$/ { n++; next } { print > (dir "/fault." n+0) }' "$list"

caught=0 missed=0 stale=0 total=0
for fault in $(ls "$work"/fault.* | sort -V); do
    file=$(sed -n 's/^file: //p' "$fault" | head -n1)
    what=$(sed -n 's/^what: //p' "$fault" | head -n1)
    [ -n "$file" ] || continue
    total=$((total + 1))
    awk '/^from:$/ { m = 1; next } /^to:$/ { exit } m' "$fault" > "$work/from"
    awk '/^to:$/ { m = 1; next } m' "$fault" > "$work/to"
    target=$root/$file
    cp "$target" "$work/original"
    if ! FROM_FILE=$work/from TO_FILE=$work/to perl -e '
            local $/; open my $f, "<", $ENV{FROM_FILE} or die; my $from = <$f>;
            open my $t, "<", $ENV{TO_FILE} or die; my $to = <$t>;
            $from =~ s/\n\z//; $to =~ s/\n\z//;
            my $text = <STDIN>; my $count = () = $text =~ /\Q$from\E/g;
            die "matches $count times\n" unless $count == 1;
            $text =~ s/\Q$from\E/$to/; print $text;' < "$work/original" > "$work/mutant" 2>"$work/why"; then
        printf '%-8s %s (%s): %s\n' stale "$file" "$what" "$(cat "$work/why")"
        stale=$((stale + 1))
        continue
    fi
    [ "$check_only" = 1 ] && continue
    cp "$work/mutant" "$target"
    if ! cmake --build "$build" --parallel "$(nproc)" >"$work/build.log" 2>&1; then
        verdict=stale # a fault must build, or it shows nothing about the tests
    elif (cd "$build" && ctest --stop-on-failure --parallel "$(nproc)" "$@" >"$work/test.log" 2>&1); then
        verdict=missed
    else
        verdict=caught
    fi
    cp "$work/original" "$target"
    touch "$target"
    case $verdict in
        caught) caught=$((caught + 1)) ;;
        missed) missed=$((missed + 1)) ;;
        *) stale=$((stale + 1)) ;;
    esac
    printf '%-8s %s: %s\n' "$verdict" "$file" "$what"
done
[ "$check_only" = 1 ] && { echo "$stale of $total faults do not apply"; exit $((stale > 0)); }
# Leave the build matching the restored tree.
cmake --build "$build" --parallel "$(nproc)" >/dev/null 2>&1
printf '\n%d caught, %d missed, %d stale, of %d faults\n' "$caught" "$missed" "$stale" "$total"
[ "$stale" -eq 0 ] && [ $((caught * 10)) -ge $((total * 9)) ]
