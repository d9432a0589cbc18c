#!/usr/bin/env bash
# Draws the on-screen keyboard's key pictures (our own simple drawings) into
# resources/keyboard/: for every key "<name>.png" (at rest) and
# "<name>-sel.png" (pressed), plus the three shift states. Run from anywhere:
#   resources/tools/draw-keyboard.sh
# Needs ImageMagick (convert) and fonts-dejavu-core.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p keyboard
out=keyboard
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

REST_TOP='#fbfbfb'; REST_BOTTOM='#dcdcdc'; REST_RIM='#8c8c8c'; REST_INK='#2b2b2b'
SEL_TOP='#5fb563'; SEL_BOTTOM='#3a8a3e'; SEL_RIM='#25622a'; SEL_INK='#ffffff'
FONT=DejaVu-Sans-Bold

# cap <file> <width> <state: rest|sel> : an empty key cap, 45 high.
cap() {
  local file=$1 w=$2 top bottom rim
  if [ "$3" = sel ]; then top=$SEL_TOP bottom=$SEL_BOTTOM rim=$SEL_RIM
  else top=$REST_TOP bottom=$REST_BOTTOM rim=$REST_RIM; fi
  convert -size "${w}x45" xc:none \
    \( -size "$((w - 4))x41" gradient:"$top"-"$bottom" \) -geometry +2+1 -composite \
    \( -size "${w}x45" xc:none -fill white -draw "roundrectangle 2,1 $((w - 3)),41 7,7" \) \
    -compose DstIn -composite -compose Over \
    -fill none -stroke "$rim" -strokewidth 1.5 -draw "roundrectangle 2,1 $((w - 3)),41 7,7" \
    -stroke "$rim" -strokewidth 1 -draw "line 8,43 $((w - 9)),43" "$file"
}

ink() { [ "$1" = sel ] && echo "$SEL_INK" || echo "$REST_INK"; }

# label <name> <width> <text> <pointsize> : a key with centred text.
label() {
  local name=$1 w=$2 text=$3 size=$4 state file
  for state in rest sel; do
    file="$tmp/k.png"
    cap "$file" "$w" "$state"
    convert "$file" -fill "$(ink $state)" -font "$FONT" -pointsize "$size" -gravity center \
      -annotate +0-1 "$text" "$file"
    if [ "$state" = sel ]; then mv "$file" "$out/$name-sel.png"; else mv "$file" "$out/$name.png"; fi
  done
}

# drawn <name> <width> <state> <extra convert arguments...> : a key with a drawing.
drawn() {
  local name=$1 w=$2 state=$3
  shift 3
  cap "$tmp/k.png" "$w" "$state"
  convert "$tmp/k.png" -fill "$(ink "$state")" -stroke "$(ink "$state")" "$@" "$tmp/d.png"
  mv "$tmp/d.png" "$out/$name"
}

for c in 0 1 2 3 4 5 6 7 8 9; do label "$c" 45 "$c" 20; done
for c in a b c d e f g h i j k l m n o p q r s t u v w x y z; do label "$c" 45 "$c" 20; done
label ',' 45 ',' 22
label '-' 45 '-' 24

# Wide keys: the text says what they do.
label numbers 103 '123' 18
label letters 103 'abc' 18
label close 103 'Hide' 16
label onoff 103 'On/Off' 16
label space 310 'space' 14

# Backspace: a left-pointing key outline with a cross.
for state in rest sel; do
  suffix=; [ $state = sel ] && suffix=-sel
  drawn "backspace$suffix.png" 103 $state -strokewidth 2 -fill none \
    -draw "polygon 34,21 44,12 70,12 70,30 44,30" -draw "line 50,16 60,26" -draw "line 60,16 50,26"
done

# Enter: a bent arrow pointing left.
for state in rest sel; do
  suffix=; [ $state = sel ] && suffix=-sel
  drawn "enter$suffix.png" 103 $state -strokewidth 2.5 -fill none \
    -draw "polyline 66,11 66,26 42,26" -stroke none -fill "$(ink $state)" -draw "polygon 34,26 44,19 44,33"
done

# Shift: an upward arrow outline at rest; filled once pressed (next key in
# upper case); filled with a bar under it when locked.
ARROW="polygon 51,9 37,24 45,24 45,33 57,33 57,24 65,24"
drawn shift.png 103 rest -strokewidth 2 -fill none -draw "$ARROW"
drawn shift-sel-1.png 103 sel -strokewidth 2 -draw "$ARROW"
drawn shift-sel-2.png 103 sel -strokewidth 2 -draw "$ARROW" -draw "rectangle 45,36 57,37"

# Small files: 8 bits per channel, RGBA.
for f in "$out"/*.png; do convert "$f" -depth 8 "PNG32:$f"; done
