#!/usr/bin/env bash
# Checks of an installed kavaroXP, made in a scratch DESTDIR inside the build
# folder; never touches the system.
#   install_checks.sh CHECK BUILD_DIR VERSION APP_ID
# CHECK: setup (install), cleanup, tree, desktop, metainfo, manual, unit.
# Exits 77 (skipped) when the tool a check needs is not installed.
set -euo pipefail
check=$1 build=$2 version=$3 app_id=$4
root=$build/tests/install/root
usr=$root/usr
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed (scripts/install-deps)"; }

# Option names as --help lists them, one a line: -h, --help, ...
help_options() {
  "$usr/bin/kavaroxp" --help | sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z-]*\).*/\1\2/p' |
    tr ', ' '\n\n' | grep . | sort -u
}
# Option names the manual page describes: its tagged paragraphs under OPTIONS.
manual_options() {
  gzip -dc "$usr/share/man/man1/kavaroxp.1.gz" |
    sed -n '/^\.SH OPTIONS/,/^\.SH /{/^\.TP/{n;p}}' | sed 's/\\-/-/g' |
    grep -oE '(^|[ "])--?[a-z][a-z-]*' | tr -d ' "' | sort -u
}

case $check in
setup)
  rm -rf "$root"
  DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
  ;;
cleanup)
  rm -rf "$root"
  ;;
tree)
  for f in bin/kavaroxp share/applications/$app_id.desktop \
    share/icons/hicolor/{48x48,128x128,256x256}/apps/kavaroxp.png \
    share/icons/hicolor/scalable/apps/kavaroxp.svg share/metainfo/$app_id.metainfo.xml \
    share/man/man1/kavaroxp.1.gz lib/systemd/user/kavaroxp.service \
    share/doc/kavaroxp/{copyright,changelog.gz,examples/broadcast.env}; do
    [ -s "$usr/$f" ] || fail "$f is not installed"
  done
  for size in 48 128 256; do
    # A PNG's width and height are the big-endian words at bytes 16 to 23.
    dims=$(od -An -tx1 -j16 -N8 "$usr/share/icons/hicolor/${size}x$size/apps/kavaroxp.png" | tr -d ' \n')
    [ "$dims" = "$(printf '%08x%08x' "$size" "$size")" ] || fail "the ${size}x$size icon is not that size"
  done
  out=$("$usr/bin/kavaroxp" --version)
  [ "$out" = "kavaroXP $version" ] || fail "--version printed \"$out\", not kavaroXP $version"
  help_options | grep -qx -- --broadcast || fail "--help lists no --broadcast"
  gzip -dc "$usr/share/doc/kavaroxp/changelog.gz" | head -1 | grep -q "^kavaroxp ($version)" ||
    fail "the changelog's last entry is not $version"
  ;;
desktop)
  need desktop-file-validate
  desktop-file-validate "$usr/share/applications/$app_id.desktop"
  grep -qx 'Exec=kavaroxp' "$usr/share/applications/$app_id.desktop" || fail "Exec is not kavaroxp"
  ;;
metainfo)
  need appstreamcli
  appstreamcli validate --no-net "$usr/share/metainfo/$app_id.metainfo.xml"
  grep -q "<release version=\"$version\"" "$usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo's release is not $version"
  ;;
manual)
  need man
  errors=$(MANWIDTH=80 man --warnings -l "$usr/share/man/man1/kavaroxp.1.gz" 2>&1 >/dev/null)
  [ -z "$errors" ] || fail "man reports: $errors"
  gzip -dc "$usr/share/man/man1/kavaroxp.1.gz" | grep -q "kavaroXP $version" ||
    fail "the manual page is not of version $version"
  diff <(help_options) <(manual_options) ||
    fail "the options of --help (<) and of the manual page (>) differ"
  ;;
unit)
  need systemd-analyze
  unit=$usr/lib/systemd/user/kavaroxp.service
  grep -q '^ExecStart=/usr/bin/kavaroxp ' "$unit" || fail "ExecStart does not run /usr/bin/kavaroxp"
  grep -q '^EnvironmentFile=%E/kavaroxp/broadcast.env$' "$unit" || fail "no EnvironmentFile"
  # The unit as it would run from this tree: its binary at the scratch path.
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  mkdir -m 700 "$scratch/run"
  sed "s#^ExecStart=/usr/bin/#ExecStart=$usr/bin/#" "$unit" >"$scratch/kavaroxp.service"
  if ! XDG_RUNTIME_DIR=$scratch/run systemd-analyze --user --man=no verify \
    "$scratch/kavaroxp.service" >"$scratch/out" 2>&1; then
    grep -q "Failed to initialize manager\|Failed to lookup RuntimeDirectory\|Operation not permitted" \
      "$scratch/out" && skip "systemd-analyze cannot run here: $(head -1 "$scratch/out")"
    fail "systemd-analyze verify: $(cat "$scratch/out")"
  fi
  # verify succeeds on settings it ignores; what it says is the verdict.
  [ ! -s "$scratch/out" ] || fail "systemd-analyze verify: $(cat "$scratch/out")"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
