#!/usr/bin/env bash
# Builds the Debian package from BUILD into a scratch folder, unpacks it
# there and checks what a user installs: every file in its place, the
# desktop entry and metainfo valid, the installed binaries' libraries all
# resolved, --version answering, no lintian error.
#   check_package.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/velmora-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

cd "$build"
if ! cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  bad "cpack failed"
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$scratch/out/velmora_${version}_amd64.deb"
[ -f "$deb" ] || { ls "$scratch/out" >&2; bad "no $deb"; exit 1; }

# The control fields.
control=$(dpkg-deb -f "$deb")
for field in "Package: velmora" "Section: video" "Suggests: libdvd-pkg" "Architecture: amd64"; do
  grep -qx "$field" <<<"$control" || bad "control lacks '$field'"
done
grep -q '^Maintainer: .\+<.\+@.\+>$' <<<"$control" || bad "no maintainer line"
grep -q '^Description: .\+' <<<"$control" || bad "no description"
for lib in libdvdnav libavcodec libqt6widgets6 libasound2 libsqlite3; do
  grep -q "^Depends: .*$lib" <<<"$control" || bad "Depends lacks $lib (dpkg-shlibdeps)"
done

# The files.
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for f in bin/velmora bin/velmora-probe share/applications/velmora.desktop \
         share/metainfo/velmora.metainfo.xml share/man/man1/velmora.1.gz \
         share/doc/velmora/copyright share/doc/velmora/changelog.gz share/man/man1/velmora-probe.1.gz; do
  [ -f "$root/usr/$f" ] || bad "missing /usr/$f"
done
for px in 16 32 48 64 128 256; do
  icon="$root/usr/share/icons/hicolor/${px}x${px}/apps/velmora.png"
  if [ ! -f "$icon" ]; then bad "missing icon ${px}px"; continue; fi
  file -b "$icon" | grep -q "PNG image data, $px x $px" || bad "icon ${px}px: $(file -b "$icon")"
done
desktop-file-validate "$root/usr/share/applications/velmora.desktop" || bad "desktop entry invalid"
grep -qx 'Exec=velmora %f' "$root/usr/share/applications/velmora.desktop" || bad "Exec line"
grep -qx 'MimeType=x-content/video-dvd;application/x-iso9660-image;' \
  "$root/usr/share/applications/velmora.desktop" || bad "MimeType line"
appstreamcli validate --no-net "$root/usr/share/metainfo/velmora.metainfo.xml" >"$scratch/as.log" 2>&1 \
  || { cat "$scratch/as.log" >&2; bad "metainfo invalid"; }
zcat "$root/usr/share/man/man1/velmora.1.gz" | grep -q 'dvd:///dev/sr0' || bad "manual page lacks the addresses"

# The installed binaries: every library found, --version answers, no display needed.
for b in velmora velmora-probe; do
  if ldd "$root/usr/bin/$b" | grep -q 'not found'; then
    ldd "$root/usr/bin/$b" | grep 'not found' >&2
    bad "$b: unresolved libraries"
  fi
done
answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/velmora" --version) || bad "--version failed"
[ "$answer" = "Velmora $version" ] || bad "--version said '$answer'"
env -u DISPLAY "$root/usr/bin/velmora" --help | grep -q 'dvd://' || bad "--help lacks the addresses"

# Lintian: errors fail, warnings are listed.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
  cat "$scratch/lintian.log"
  grep -q '^E: ' "$scratch/lintian.log" && bad "lintian reports errors"
fi

[ "$fail" -eq 0 ] && echo "package: all checks passed"
exit "$fail"
