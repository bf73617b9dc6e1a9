#!/usr/bin/env bash
# Builds the Debian package in a scratch folder and checks its control fields
# and what lintian says of it.
#   deb_check.sh BUILD_DIR VERSION "GSTREAMER PACKAGES..."
# Exits 77 (skipped) when cpack, dpkg-deb or lintian is not installed.
set -euo pipefail
build=$1 version=$2 plugins=$3
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v $tool >/dev/null || skip "$tool is not installed (scripts/install-deps)"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
deb=$(ls "$scratch"/kavaroxp_"$version"_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no kavaroxp_${version}_*.deb: $(cat "$scratch/cpack.log")"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kavaroxp ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version), not $version"
[ "$(field Section)" = video ] || fail "Section is $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"
# Every dependency as a bare package name, one a line.
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g' | grep .)
for p in $plugins; do
  grep -qx "$p" <<<"$names" || fail "Depends lacks $p"
done
# What dpkg-shlibdeps found for the binary's libraries.
for lib in libc6 libstdc++6 libqt6widgets6 libgstreamer1.0-0 libasound2; do
  grep -qx "$lib" <<<"$names" || fail "Depends lacks $lib (the binary links it)"
done
contents=$(dpkg-deb --contents "$deb")
grep -q ' ./usr/bin/kavaroxp$' <<<"$contents" || fail "no /usr/bin/kavaroxp in the package"
grep -q ' ./usr/lib/systemd/user/kavaroxp.service$' <<<"$contents" || fail "no user unit in the package"
# The unit names the binary where the package puts it.
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/kavaroxp.service)
grep -q '^ExecStart=/usr/bin/kavaroxp ' <<<"$unit" || fail "the packaged unit does not run /usr/bin/kavaroxp"

# Errors fail; warnings are listed.
lintian --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
! grep -q '^E: ' "$scratch/lintian.log" || fail "lintian reports errors"
