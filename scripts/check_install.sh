#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what lands there:
# every file in its place, the desktop entry, the AppStream file and the file
# types valid, the installed batch tool working from the installed samples;
# then builds the Debian package and checks its files, its dependencies and
# lintian's verdict. Usage: check_install.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
version=$(sed -n 's/^project(Tesserix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
id=org.tesserix.Tesserix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "check_install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(bin/tesserix bin/tesserix-cli
  "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" "share/mime/packages/$id.xml"
  share/man/man1/tesserix.1.gz share/man/man1/tesserix-cli.1.gz
  share/tesserix/sample-source.jpg share/doc/tesserix/copyright share/doc/tesserix/changelog.Debian.gz
  "share/icons/hicolor/scalable/apps/$id.svg")
for type in project imagelist; do
  expected+=("share/icons/hicolor/scalable/mimetypes/application-x-tesserix-$type.svg")
done
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
  for type in project imagelist; do
    expected+=("share/icons/hicolor/${size}x$size/mimetypes/application-x-tesserix-$type.png")
  done
done
samples=$(ls "$build"/images | sort)
[ "$(wc -l <<<"$samples")" -ge 100 ] || fail "the build made too few sample pictures"
for f in $samples; do expected+=("share/tesserix/images/$f"); done

printf '%s\n' "${expected[@]}" | sort >"$work/expected"
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) >"$work/installed"
if ! diff -u "$work/expected" "$work/installed"; then
  fail "the installation differs from the list above (- missing, + unexpected)"
fi
for size in 16 256; do
  file "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -q "$size x $size" ||
    fail "the ${size}x$size icon is not $size pixels square"
done

desktop-file-validate "$prefix/share/applications/$id.desktop"
grep -qx 'Exec=tesserix %f' "$prefix/share/applications/$id.desktop" || fail "the desktop entry passes no file"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "the AppStream release entry is not version $version"
xmllint --noout "$prefix/share/mime/packages/$id.xml"
# the file types as the desktop reads them: compiled into a database of their own
mkdir -p "$work/mime/packages"
cp "$prefix/share/mime/packages/$id.xml" "$work/mime/packages/"
update-mime-database "$work/mime" >/dev/null 2>&1
grep -qx 'application/x-tesserix-project:\*.tsx' <(cut -d: -f2- "$work/mime/globs2") ||
  fail "project files are not known by *.tsx"
grep -qx 'application/x-tesserix-imagelist:\*.iml' <(cut -d: -f2- "$work/mime/globs2") ||
  fail "ImageList files are not known by *.iml"
for page in tesserix tesserix-cli; do
  warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1 || true)
  [ -z "$warnings" ] || fail "groff finds faults in $page(1): $warnings"
  zcat "$prefix/share/man/man1/$page.1.gz" | grep -q '^\.SH' || fail "$page(1) is empty"
done

[ "$("$prefix/bin/tesserix-cli" --version)" = "tesserix-cli $version" ] || fail "tesserix-cli --version"
# the desktop program answers --help and --version without a display
headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
[ "$("${headless[@]}" "$prefix/bin/tesserix" --version)" = "tesserix $version" ] || fail "tesserix --version"
"${headless[@]}" "$prefix/bin/tesserix" --help | grep -q '^Usage: tesserix .*\[FILE\]' || fail "tesserix --help"
status=0
QT_QPA_PLATFORM=offscreen "$prefix/bin/tesserix" --no-such-option 2>/dev/null || status=$?
[ $status -eq 2 ] || fail "tesserix took an unknown option (status $status)"
"$prefix/bin/tesserix-cli" make --source "$prefix/share/tesserix/sample-source.jpg" \
  --images "$prefix/share/tesserix/images" --out "$work/mosaic.bmp" \
  --rows 16 --cols 16 --cell-width 24 --cell-height 24 --seed 7 --quiet
# 16 x 24 = 384 pixels a side, 24-bit rows of 1,152 bytes, after a 54-byte header
[ "$(stat -c %s "$work/mosaic.bmp")" -eq $((54 + 384 * 1152)) ] || fail "the installed batch tool's mosaic has the wrong size"
echo "installation: ${#expected[@]} files in place and valid"

rm -f "$build"/tesserix_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tesserix_"$version"-*_*.deb)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort >"$work/packaged"
diff -u "$work/expected" "$work/packaged" || fail "the package's files differ from the installation's"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6svg6 libjpeg62-turbo libc6; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib (Depends: $depends)"
done
# lintian exits non-zero on errors; its warnings are shown but pass
lintian --tag-display-limit 0 "$deb"
echo "package: $(basename "$deb") with $(wc -l <"$work/packaged") files, lintian finds no error"
