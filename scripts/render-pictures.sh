#!/usr/bin/env bash
# Renders the program's pictures from their SVG sources into the PNGs that the build embeds.
# Run after changing an SVG under src/controls/pictures/ or scripts/demo-icons/ and commit both.
# Needs rsvg-convert (Debian package librsvg2-bin); the build itself does not.
set -euo pipefail
dir=$(cd "$(dirname "$0")/../src/controls/pictures" && pwd)
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2; exit 1; }

for svg in "$dir"/*.svg; do
    name=$(basename "$svg" .svg)
    case "$name" in
    kestrin)
        # The application icon, in the sizes the desktop's icon theme looks for; the smallest
        # sizes come from their own simplified drawing when there is one.
        for size in 16 32 48 256; do
            src=$svg
            [ -f "$dir/kestrin-small.svg" ] && [ "$size" -le 32 ] && src=$dir/kestrin-small.svg
            rsvg-convert -w "$size" -h "$size" -o "$dir/kestrin-$size.png" "$src"
        done
        ;;
    kestrin-small) ;;
    *) rsvg-convert -o "$dir/$name.png" "$svg" ;; # at the size the drawing declares
    esac
done
echo "Rendered $(ls "$dir"/*.png | wc -l) pictures in $dir"

# The icons of the demonstration prefix's programs, which scripts/make-demo-prefix.py packs into
# the programs' files.
demo=$(cd "$(dirname "$0")/demo-icons" && pwd)
for svg in "$demo"/*.svg; do
    for size in 16 32 48; do
        rsvg-convert -w "$size" -h "$size" -o "${svg%.svg}-$size.png" "$svg"
    done
done
echo "Rendered $(ls "$demo"/*.png | wc -l) icons in $demo"
