#!/usr/bin/env bash
# Makes the sample tree twice and indexes it in the modern style:
#   OUT/plain/sample  as scripts/run-sample.sh does;
#   OUT/rich/sample   with hostile file and folder names, a title, footer
#                     text, header and footer templates, several pages and
#                     extra THEME_ARGS (e.g. --theme=DIR).
# Then writes OUT/pages.txt: every page (*.html) of both, in byte order of
# their paths, each after a line "=== PATH BYTES". tests/reference/modern/
# pages.txt is that file as made before the pages came from a theme; the
# built-in theme must give the same bytes.
# Usage: make.sh CLI MAKE_SAMPLE_TREE OUT [THEME_ARGS...]
set -euo pipefail
cli=$1 tree=$2 out=$3
shift 3
rm -rf "$out/plain" "$out/rich"
mkdir -p "$out/plain" "$out/rich"
"$tree" "$out/plain/sample" >/dev/null
"$cli" index -q --style=modern --firstpage=index.html "$@" "$out/plain/sample"

rich="$out/rich/sample"
"$tree" "$rich" >/dev/null
hostile=$'x<script>alert(1)<x> "q" \'s\' 100% #1 ?a=b&c'
mkdir "$rich/$hostile"
cp "$rich/logo.gif" "$rich/$hostile/$hostile.gif"
cp "$rich/sunrise.jpg" "$rich/$hostile/a&b <i>.jpg"
cp "$rich/logo.gif" "$rich/animals/%41 #top ?q=1.gif"
mkdir "$rich/b"$'\xff'"ad"
cp "$rich/logo.gif" "$rich/b"$'\xff'"ad/"$'\xfe'".gif"
cat >"$out/rich/header.html" <<'HTML'
<html><head><style>.brand{color:red}</style><link rel="stylesheet" href="x.css"></head>
<body><div class="brand">Brand &amp; Co</div>
HTML
cat >"$out/rich/footer.html" <<'HTML'
<p class="legal">Footer &copy; template</p></body></html>
HTML
"$cli" index -q --style=modern --title=$'Trip & <Co> "2023"' --footertext=$'\xc2\xa9 <me> & "you"' \
  --headertemplate="$out/rich/header.html" --footertemplate="$out/rich/footer.html" \
  --rowsperpage=1 --cellsperrow=2 --createthumbs=1 --includefilenames=1 "$@" "$rich"

cd "$out"
find plain rich -name '*.html' -print0 | LC_ALL=C sort -z | while IFS= read -r -d '' page; do
  printf '=== %s %d\n' "$page" "$(stat -c %s "$page")"
  cat "$page"
done >pages.txt
