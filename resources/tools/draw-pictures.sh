#!/usr/bin/env bash
# Draws the program's pictures (our own simple drawings) and copies the
# condensed sans-serif face used as the switch font. Run from anywhere:
#   resources/tools/draw-pictures.sh
# Needs ImageMagick (convert) and fonts-dejavu-core.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p Elementi buttons Fonts
GREEN='#439847'; LIME='#7fec2f'; GREY='#4e5357'; WHITE='#ffffff'

# Font: DejaVu Sans Condensed under the resource name the program loads.
cp /usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf Fonts/Antonio-Regular.ttf

# Window icons and splash pictures (standard and regional variant).
convert -size 64x64 xc:none -fill "$GREEN" -draw "roundrectangle 2,2 61,61 12,12" \
  -fill white -draw "polygon 36,8 18,36 30,36 26,56 46,26 34,26" Elementi/icon.ico
convert -size 64x64 xc:none -fill '#e08a1e' -draw "roundrectangle 2,2 61,61 12,12" \
  -fill white -draw "polygon 36,8 18,36 30,36 26,56 46,26 34,26" Elementi/iconI.ico
for v in "" I; do
  c1=$GREEN; [ "$v" = I ] && c1='#e08a1e'
  convert -size 800x300 gradient:"$c1"-"$GREY" -fill white -font DejaVu-Sans-Bold -pointsize 64 \
    -gravity center -annotate +0-20 'LUMO2020' -pointsize 20 -annotate +0+40 'HV / LV power supply control' \
    "Elementi/splashscr${v}-WIDE_LUMO.jpg"
done
convert -size 600x600 xc:none -fill 'rgba(255,255,255,0.10)' -font DejaVu-Sans-Bold -pointsize 110 \
  -gravity center -annotate +0+0 'LUMO' Elementi/Lumo_only_trasparent.png
convert -size 600x600 xc:none -fill 'rgba(255,200,120,0.12)' -font DejaVu-Sans-Bold -pointsize 110 \
  -gravity center -annotate +0+0 'LUMO' Elementi/Lumo_only_trasparentI.png
convert -size 180x40 xc:none -fill white -font DejaVu-Sans-Bold -pointsize 26 -gravity west \
  -annotate +6+0 'LUMO2020' Elementi/logo_head.png
convert -size 32x32 xc:none -fill "$GREEN" -draw "circle 16,16 16,2" buttons/n_icon.png

# Tool-bar icons: 1 none, 2 all, 3 systems, 4 boards, 5 lock; white and green.
icon() { # name colour drawing
  convert -size 32x32 xc:none -stroke "$2" -strokewidth 2 -fill none -draw "$3" "Elementi/$1"
}
for pair in "bianca:$WHITE" "verde:$LIME"; do
  s=${pair%%:*}; c=${pair#*:}
  icon "icona-1-$s.png" "$c" "rectangle 8,4 24,28"
  icon "icona-2-$s.png" "$c" "rectangle 2,4 10,28 rectangle 12,4 20,28 rectangle 22,4 30,28"
  icon "icona-3-$s.png" "$c" "rectangle 2,4 10,28 rectangle 12,4 30,28"
  icon "icona-4-$s.png" "$c" "rectangle 2,4 20,28 rectangle 22,4 30,28"
  icon "icona-5-$s.png" "$c" "rectangle 7,14 25,28 arc 10,4 22,20 180,360"
done

# Dock pictures of systems and modules.
dock() { # name label colour
  convert -size 200x90 xc:none -fill "$3" -stroke '#303030' -draw "roundrectangle 10,10 189,79 8,8" \
    -stroke none -fill white -font DejaVu-Sans-Bold -pointsize 18 -gravity center -annotate +0+0 "$2" "Elementi/$1"
}
dock sistema-dock.png 'CRATE' "$GREY"
dock p8080-dock.png 'P8080' "$GREY"
dock sistema-vme.png 'VME' "$GREY"
dock cs-verde.png 'CUSTOM' "$GREEN"
convert -size 40x60 xc:'#5a5f63' -fill '#9aa0a4' -draw "rectangle 6,6 33,12" -fill "$LIME" \
  -draw "circle 20,40 20,35" Elementi/Modulo-dock.png

# Expand switches (system boxes) and arrows (board boxes).
convert -size 28x16 xc:none -fill "$LIME" -draw "roundrectangle 0,0 27,15 7,7" -fill white -draw "circle 20,8 20,2" Elementi/switch_ON.gif
convert -size 28x16 xc:none -fill '#9a9a9a' -draw "roundrectangle 0,0 27,15 7,7" -fill white -draw "circle 8,8 8,2" Elementi/switch_OFF.gif
convert -size 16x16 xc:none -fill white -draw "polygon 2,5 14,5 8,12" Elementi/arrd.png
convert -size 16x16 xc:none -fill white -draw "polygon 5,2 12,8 5,14" Elementi/arrr.png

# Status lights.
led() { convert -size 18x18 xc:none -fill "$2" -stroke '#202020' -draw "circle 9,9 9,2" "buttons/$1"; }
led led_on_mid.png '#2fd02f'
led led_warn_mid.png '#f0c020'
led led_err_mid.png '#e02020'
led led_off_mid.png '#6a6a6a'
led led_off.png '#3a3a3a'

# The two style sheets differ only in the main window's background picture.
sed 's|@LOGO@|:/Resources/Elementi/Lumo_only_trasparent.png|' tools/stylesheet.in > stylesheet-3.qss
sed 's|@LOGO@|:/Resources/Elementi/Lumo_only_trasparentI.png|' tools/stylesheet.in > stylesheet-I.qss
