#!/usr/bin/env bash
# Makes the Debian package in a temporary folder and checks it as a user's
# machine would meet it: its files and fields, its desktop entry and metadata,
# that `cmake --install` places the same files, what lintian says, that the
# command line answers as the manual page says, and that the unpacked program
# starts quietly, stops cleanly on SIGTERM and saves its settings.
#   check_package.sh <build dir> <version> <maintainer>
set -euo pipefail
build=$1 version=$2 maintainer=$3

work=$(mktemp -d)
app=''
cleanup() {
    if [ -n "$app" ]; then kill -KILL "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; exit 1; }
deb=$work/out/quorvix_${version}_amd64.deb
[ -f "$deb" ] || { ls "$work/out" >&2; echo "FAIL: no $(basename "$deb")" >&2; exit 1; }

# Files only: the folders follow from them.
expected='/usr/bin/quorvix
/usr/share/applications/quorvix.desktop
/usr/share/doc/quorvix/changelog.gz
/usr/share/doc/quorvix/copyright
/usr/share/icons/hicolor/scalable/apps/quorvix.svg
/usr/share/man/man1/quorvix.1.gz
/usr/share/metainfo/io.github.quorvix.Quorvix.metainfo.xml'
packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's/^\.//' | sort)
[ "$packaged" = "$expected" ] || fail "package files differ:
$(diff <(echo "$expected") <(echo "$packaged") || true)"

DESTDIR=$work/installed cmake --install "$build" --prefix /usr >/dev/null
installed=$(cd "$work/installed" && find . ! -type d | sed 's/^\.//' | sort)
[ "$installed" = "$packaged" ] || fail "cmake --install and the package differ:
$(diff <(echo "$packaged") <(echo "$installed") || true)"

# Field, then the pattern its value must match. Only dpkg-shlibdeps knows the
# Qt libraries' versions; the plugins are loaded at run time and named by hand.
while read -r field pattern; do
    value=$(dpkg-deb -f "$deb" "$field")
    [[ $value =~ $pattern ]] || fail "$field is '$value', expected to match '$pattern'"
done <<EOF
Package ^quorvix$
Version ^${version}$
Maintainer ^${maintainer}$
Depends (^|, )libqt6widgets6 \(>= [0-9.]+\)(,|$)
Depends (^|, )libqt6serialport6 \(>= [0-9.]+\)(,|$)
Depends (^|, )libqt6svg6(,|$)
Depends (^|, )qt6-qpa-plugins(,|$)
Depends (^|, )qt6-translations-l10n(,|$)
Recommends ^fonts-noto-cjk$
EOF

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/quorvix.desktop" || fail "desktop entry"
# Also checks that the metadata's launchable names a desktop entry that is there.
appstreamcli validate-tree --no-net "$root" || fail "AppStream metadata"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/io.github.quorvix.Quorvix.metainfo.xml" \
    || fail "the metadata's release is not $version"

lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian"; }
changelog=$(zcat "$root/usr/share/doc/quorvix/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changelog" = "$version" ] || fail "the changelog's latest version is '$changelog', not $version"

# Help and version need no display; an unknown option gets the usage on stderr and status 2.
program=$root/usr/bin/quorvix
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$program" "$@"; }
[ "$(headless --version)" = "quorvix $version" ] || fail "--version"
help=$(headless --help) || fail "--help status"
manual=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/quorvix.1.gz" 2>/dev/null | col -b)
for option in '-h, --help' '--help-all' '-v, --version'; do
    grep -qF -- "$option" <<<"$help" || fail "--help does not list $option"
    grep -qF -- "$option" <<<"$manual" || fail "the manual page does not list $option"
done
status=0
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work timeout 20 "$program" --no-such-option >"$work/stdout" 2>"$work/stderr" || status=$?
[ "$status" -eq 2 ] && [ ! -s "$work/stdout" ] && grep -q '^Usage: ' "$work/stderr" || fail "an unknown option gave status $status"

mkdir -p "$work/home" "$work/config"
mkdir -m 0700 "$work/runtime"
HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime \
    QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='*.warning=true' \
    QT_MESSAGE_PATTERN='%{type}: %{message}' \
    "$root/usr/bin/quorvix" >"$work/log" 2>&1 &
app=$!
sleep 2
kill -TERM "$app"
status=0
wait "$app" || status=$?
app=''
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
if grep -E '^(warning|critical|fatal): ' "$work/log" >&2; then fail "messages above debug level"; fi
[ -s "$work/config/Varnholt/Quorvix.conf" ] || fail "no settings file written"

if [ "$failures" -ne 0 ]; then
    echo "--- program output:" >&2
    cat "$work/log" >&2
    exit 1
fi
echo "package $(basename "$deb") checked"
