#!/bin/sh
# Draws the system panel's own pictures (lamps, grey dock pictures, custom
# view picture, about-box logo, dialog icon) with ImageMagick. Run from the
# repository root: sh resources/tools/draw_panel_pictures.sh
set -e
R=resources
lamp() { # name fill rim
    convert -size 14x14 xc:none -fill "$2" -stroke "$3" -strokewidth 1 \
        -draw "circle 7,7 7,1" -fill 'rgba(255,255,255,0.55)' -stroke none -draw "circle 5,5 5,3" "$R/buttons/$1"
}
lamp led_on.png '#3fbf2f' '#1f6f17'
lamp led_err.png '#e0281e' '#7a120c'

crate() { # name body front
    convert -size 56x44 xc:none -fill "$2" -stroke '#303030' -draw "roundrectangle 2,4 53,41 4,4" \
        -fill "$3" -stroke none -draw "rectangle 6,9 49,30" \
        -stroke '#202020' -draw "line 12,9 12,30" -draw "line 19,9 19,30" -draw "line 26,9 26,30" \
        -draw "line 33,9 33,30" -draw "line 40,9 40,30" \
        -fill '#909090' -stroke none -draw "rectangle 6,34 49,37" "$R/Elementi/$1"
}
crate sistema-dock-grey.png '#8a8a8a' '#5c5c5c'
convert -size 56x44 xc:none -fill '#8a8a8a' -stroke '#303030' -draw "roundrectangle 2,8 53,37 3,3" \
    -fill '#5c5c5c' -stroke none -draw "rectangle 7,13 48,32" -fill '#b0b0b0' -draw "rectangle 10,16 20,29" \
    "$R/Elementi/sistema-vme-grey.png"
convert -size 56x44 xc:none -fill '#8a8a8a' -stroke '#303030' -draw "roundrectangle 4,4 51,39 6,6" \
    -fill white -stroke none -pointsize 16 -gravity center -annotate +0+0 'CV' "$R/Elementi/cs-1.png"
convert -size 500x42 xc:none -fill white -font DejaVu-Sans-Bold -pointsize 24 -gravity west \
    -annotate +16+0 'LUMO2020' -fill '#bfff27' -draw "rectangle 180,18 480,22" "$R/Elementi/logo_about.png"
convert -size 32x32 xc:none -fill '#439847' -stroke '#1f4f22' -draw "roundrectangle 1,1 30,30 6,6" \
    -fill white -stroke none -font DejaVu-Sans-Bold -pointsize 20 -gravity center -annotate +0+0 'n' \
    "$R/photos/n_icon.png"
