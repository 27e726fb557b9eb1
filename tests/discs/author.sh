#!/usr/bin/env bash
# Authors Velmora's synthetic DVD-Video test discs.
#
#   tests/discs/author.sh OUTDIR
#
# creates OUTDIR/A (disc folder with VIDEO_TS, PAL 4:3, menus, two title sets),
# OUTDIR/B (disc folder, NTSC 16:9 anamorphic, no menus), OUTDIR/T (disc
# folder, PAL 4:3: register-driven menus, stills, forced caption, 5.1, DTS,
# 96 kHz/24-bit LPCM, 99 chapters, 24 titles) and OUTDIR/A.iso
# (disc A as a DVD-Video ISO image, volume id DISC_A).  What the discs hold is
# documented in tests/discs/discs.md; keep the two in step.
#
# Tools: ffmpeg/ffprobe, dvdauthor + spumux, genisoimage, DejaVu fonts
# (Debian: ffmpeg dvdauthor genisoimage fonts-dejavu-core).
#
# Cache: OUTDIR/.stamp holds the sha256 of this script (the script reads no
# other file from tests/discs/).  If it matches and the outputs exist, the
# script exits 0 at once and prints nothing.  Everything is built in a
# temporary folder inside OUTDIR and moved into place at the end; the stamp
# is written last, so an interrupted run is simply redone next time.
# Tool output goes to OUTDIR/author.log; on failure the tail of the failing
# step's log is printed and the script exits non-zero.
#
# Colours (sRGB, drawn as solid backgrounds; MPEG-2 coding shifts them by a
# few units, so compare with a tolerance of about +-24 per channel):
#   disc A title 1 chapter 1  red     #C81E1E  (200, 30, 30)
#   disc A title 1 chapter 2  green   #1EA01E  ( 30,160, 30)
#   disc A title 1 chapter 3  blue    #1E3CD2  ( 30, 60,210)
#   disc A title 1 chapter 4  yellow  #E6D21E  (230,210, 30)
#   disc A title 2            magenta #B41EB4  (180, 30,180)
#   disc A main menu          navy    #141E50  ( 20, 30, 80)
#   disc A chapter menu       teal    #145050  ( 20, 80, 80)
#   disc B chapter 1          cyan    #1EAAC8  ( 30,170,200)
#   disc B chapter 2          orange  #F08214  (240,130, 20)
#   circles: white fill (255,255,255) with a black ring.
set -euo pipefail
export LC_ALL=C TZ=UTC

die() { printf 'author.sh: %s\n' "$*" >&2; exit 1; }

[[ $# -eq 1 && -n $1 ]] || die "usage: author.sh OUTDIR"

SELF=$(readlink -f "${BASH_SOURCE[0]}")
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
# The hash covers this script; add here any file of tests/discs/ it comes to read.
HASH=$(sha256sum "$SELF" | cut -d' ' -f1)

up_to_date() {
    [[ -f $OUT/.stamp && "$(<"$OUT/.stamp")" == "$HASH" &&
       -f $OUT/A/VIDEO_TS/VIDEO_TS.IFO && -f $OUT/B/VIDEO_TS/VIDEO_TS.IFO &&
       -f $OUT/T/VIDEO_TS/VIDEO_TS.IFO &&
       -s $OUT/A.iso ]]
}
up_to_date && exit 0

# One author at a time per OUTDIR (a build and a test may race); whoever waits
# finds the discs done.
exec 9>"$OUT/.lock"
flock 9
up_to_date && exit 0

for tool in ffmpeg ffprobe dvdauthor spumux genisoimage flock; do
    command -v "$tool" >/dev/null || die "missing tool: $tool (Debian: ffmpeg dvdauthor genisoimage)"
done
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf      # fonts-dejavu-core
MONO=/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf  # fonts-dejavu-core
for f in "$FONT" "$MONO"; do
    [[ -f $f ]] || die "missing font $f (Debian: fonts-dejavu-core)"
done
SUBFONT="DejaVu Sans"   # fontconfig name for spumux's text subtitles

# ---------------------------------------------------------------- work area
rm -rf "$OUT"/.work.*                       # leftovers of a killed run
WORK=$(mktemp -d "$OUT/.work.XXXXXX")
LOG=$OUT/author.log
: >"$LOG"
mkdir -p "$WORK/log"
PIDS=()
killtree() {
    local c
    for c in $(pgrep -P "$1" || true); do killtree "$c"; done
    kill "$1" 2>/dev/null || true
}
cleanup() {
    local p
    for p in "${PIDS[@]}"; do killtree "$p"; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cd "$WORK"

# step NAME CMD...: run CMD with its output in the log; fail loudly.
step() {
    local name=$1 rc=0
    shift
    local slog=$WORK/log/$name.log
    { printf '=== %s: %s\n' "$name" "$*"; } >"$slog"
    # Run in the background and wait: a function called in an "||" context
    # would run with errexit off and could fail half-way unnoticed.
    "$@" >>"$slog" 2>&1 &
    wait $! || rc=$?
    # dvdauthor/spumux report some problems only as "ERR:" lines.
    if [[ $rc -eq 0 ]] && grep -q '^ERR' "$slog"; then rc=99; fi
    cat "$slog" >>"$LOG"
    if [[ $rc -ne 0 ]]; then
        {
            printf 'author.sh: step "%s" failed (exit %d): %s\n' "$name" "$rc" "$*"
            printf -- '--- last lines of its log (full log: %s) ---\n' "$LOG"
            tail -n 25 "$slog"
        } >&2
        return 1
    fi
}
# bgstep NAME CMD...: step in the background; join waits for all of them.
bgstep() { step "$@" & PIDS+=($!); }
join() {
    local p rc=0
    for p in "${PIDS[@]}"; do wait "$p" || rc=1; done
    PIDS=()
    [[ $rc -eq 0 ]] || exit 1
}

FF=(ffmpeg -nostdin -hide_banner -nostats -loglevel info -y)

# ------------------------------------------------------------- still images
# png NAME W H GRAPH: one RGBA picture from a filter chain applied to an
# opaque black W x H canvas.  Transparency comes only from colorkey=black at
# the end of GRAPH: drawing on a transparent canvas writes no alpha and every
# tool then silently accepts invisible pictures.
png() {
    "${FF[@]}" -f lavfi -i "color=c=black:s=$2x$3:r=1:d=1" \
        -vf "format=rgba,$4" -frames:v 1 -pix_fmt rgba -fflags +bitexact -flags +bitexact "$1.png"
}
# The picture must have at least one opaque pixel (else it is invisible).
has_opaque() {
    local n
    n=$(ffmpeg -nostdin -v error -i "$1" -vf format=rgba,alphaextract -f rawvideo -pix_fmt gray - | tr -d '\000' | wc -c)
    [[ $n -gt 0 ]] || die "picture $1 has no opaque pixel"
}

# circle NAME RY RX: a white disc with a 4-pixel black ring, radius RY
# pixels vertically and RX horizontally (RX = RY / sample aspect ratio, so
# it is round when displayed at the disc's aspect).
circle() {
    local ry=$2 rx=$3
    local w h
    w=$(awk -v r="$rx" 'BEGIN{printf "%d", 2*int(r+6)}')
    h=$(( 2 * (ry + 6) ))
    local ex="pow((X+0.5-W/2)/($rx),2)+pow((Y+0.5-H/2)/($ry),2)"
    local ey="pow((X+0.5-W/2)/($rx+4*($rx)/($ry)),2)+pow((Y+0.5-H/2)/($ry+4),2)"
    png "$1" "$w" "$h" "geq=r='255*lte($ex,1)':g='255*lte($ex,1)':b='255*lte($ex,1)':a='255*lte($ey,1)'"
}

# Image subtitle (German, stream 1 of title 1): yellow text with a dark grey
# outline on transparent, exactly 3 colours (spumux allows 4).  Text is drawn
# white on black with a grey border, then quantised to 3 levels.
subimg() {
    local q3y="if(lt(val,64),0,if(lt(val,192),40,255))"
    local q3b="if(lt(val,64),0,if(lt(val,192),40,0))"
    png "$1" 600 56 "drawtext=fontfile=$FONT:fontsize=34:fontcolor=white:borderw=3:bordercolor=0x808080:x=(w-tw)/2:y=(h-th)/2:text='$2',lutrgb=r='$q3y':g='$q3y':b='$q3b',colorkey=black:0.01:0"
}

# box X0 Y0 X1 Y1 COLOUR T: drawbox for the spumux rectangle [X0,X1) x [Y0,Y1).
box() { printf 'drawbox=x=%d:y=%d:w=%d:h=%d:color=%s:t=%s' "$1" "$2" $(( $3 - $1 )) $(( $4 - $2 )) "$5" "$6"; }

# Menu buttons, the single source for pictures, highlights and spumux:
#   name x0 y0 x1 y1 up down left right fill label...
# (x0, y0) inclusive, (x1, y1) as written to the disc's button table; all even.
MAIN_BTNS=(
    "t1   200 180 520 240 ch   t2   t1 t1 0x3C4696 PLAY TITLE 1"
    "t2   200 270 520 330 t1   ch   t2 t2 0x3C4696 PLAY TITLE 2"
    "ch   200 360 520 420 t2   t1   ch ch 0x3C4696 CHAPTERS"
)
CHAP_BTNS=(
    "c1    60 160 340 240 back c3   c2 c2 0xC81E1E CHAPTER 1"
    "c2   380 160 660 240 back c4   c1 c1 0x1EA01E CHAPTER 2"
    "c3    60 280 340 360 c1   back c4 c4 0x1E3CD2 CHAPTER 3"
    "c4   380 280 660 360 c2   back c3 c3 0xE6D21E CHAPTER 4"
    "back 220 420 500 480 c3   c1   back back 0x3C4696 MAIN MENU"
)
# hilite NAME COLOUR BUTTONS...: 6-pixel outlines inside each button rectangle.
hilite() {
    local name=$1 colour=$2 g="" b
    shift 2
    for b in "$@"; do
        set -- $b
        g+="$(box "$2" "$3" "$4" "$5" "$colour" 6),"
    done
    png "$name" 720 576 "${g}colorkey=black:0.01:0"
}

images() {
    circle circle_a 120 112.5       # PAL 4:3: SAR 16/15 -> rx = 120 * 15/16
    circle circle_b 120 101.25      # NTSC 16:9: SAR 32/27 -> rx = 120 * 27/32
    local c
    for c in 1 2 3 4; do subimg "de$c" "Deutsch - Kapitel $c"; done
    hilite main_hl 0xFFFF00 "${MAIN_BTNS[@]}"
    hilite main_sel 0xFF3030 "${MAIN_BTNS[@]}"
    hilite chap_hl 0xFFFF00 "${CHAP_BTNS[@]}"
    hilite chap_sel 0xFF3030 "${CHAP_BTNS[@]}"
}

# -------------------------------------------------------------- video files
# Common MPEG-2 / DVD settings (as -target pal-dvd / ntsc-dvd, bit-exact).
VENC=(-c:v mpeg2video -pix_fmt yuv420p -threads 2 -b:v 4000k -maxrate 8000k -minrate 0
      -bufsize 1835008 -bf 0 -sc_threshold 1000000000 -flags:v +cgop+bitexact)
MUX=(-flags:a +bitexact -fflags +bitexact -f dvd -muxrate 10080000 -packetsize 2048)
AC3=(-c:a ac3 -b:a 192k -ar 48000 -ac 2)

# Text burnt into every picture: label at the top, running time code below.
label() {  # label TEXT Y SIZE
    printf "drawtext=fontfile=%s:fontsize=%s:fontcolor=white:borderw=3:bordercolor=black:x=(w-tw)/2:y=%s:text='%s'" "$FONT" "$3" "$2" "$1"
}
tcode() {  # tcode RATE Y
    printf "drawtext=fontfile=%s:fontsize=44:fontcolor=white:borderw=3:bordercolor=black:x=(w-tw)/2:y=%s:timecode='00\\\\:00\\\\:00\\\\:00':rate=%s" "$MONO" "$2" "$1"
}
# 1 kHz beep, 100 ms at the start of every second (amplitude 0.5); steady
# sine tones (amplitude 0.25).
BEEP="aevalsrc=exprs='0.5*sin(2*PI*1000*t)*lt(mod(t,1),0.1)':c=stereo:s=48000"
tone() { printf 'sine=f=%s:r=48000,aformat=channel_layouts=stereo,volume=2' "$1"; }

title1() {  # disc A title 1: 40 s, 4 chapters of 10 s, AC-3 en + MP2 fr
    local cols=(0xC81E1E 0x1EA01E 0x1E3CD2 0xE6D21E) g="" c
    for c in 1 2 3 4; do
        g+="color=c=${cols[c-1]}:s=720x576:r=25:d=10,$(label "DISC A   TITLE 1   CHAPTER $c" 30 38)[c$c];"
    done
    g+="[c1][c2][c3][c4]concat=n=4:v=1:a=0[bg];[bg][0:v]overlay=x=(W-w)/2:y=300-h/2,$(tcode 25 86)[v];"
    g+="$BEEP:d=40,asetnsamples=n=1536[a0];"
    g+="$(tone 440),atrim=end=40,asetnsamples=n=1152[a1]"
    "${FF[@]}" -i circle_a.png -filter_complex "$g" -map '[v]' -map '[a0]' -map '[a1]' \
        "${VENC[@]}" -g 15 -r 25 -aspect 4:3 -force_key_frames 0,10,20,30 \
        -c:a:0 ac3 -b:a:0 192k -c:a:1 mp2 -b:a:1 192k -ar 48000 -ac 2 -t 40 \
        "${MUX[@]}" t1.mpg
}

title2() {  # disc A title 2: 15 s, AC-3 en 880 Hz (a 3 s still follows, see XML)
    local g
    g="color=c=0xB41EB4:s=720x576:r=25:d=15,$(label "DISC A   TITLE 2" 30 38)[bg];"
    g+="[bg][0:v]overlay=x=(W-w)/2:y=300-h/2,$(tcode 25 86)[v];"
    g+="$(tone 880),atrim=end=15,asetnsamples=n=1536[a0]"
    "${FF[@]}" -i circle_a.png -filter_complex "$g" -map '[v]' -map '[a0]' \
        "${VENC[@]}" -g 15 -r 25 -aspect 4:3 "${AC3[@]}" -t 15 "${MUX[@]}" t2.mpg
}

titleb() {  # disc B: 20 s NTSC 16:9, chapters at 0 and 10 s, LPCM 660 Hz + AC-3 en beep
    local g=""
    g+="color=c=0x1EAAC8:s=720x480:r=30000/1001:d=10,$(label "DISC B   16x9   CHAPTER 1" 24 34)[c1];"
    g+="color=c=0xF08214:s=720x480:r=30000/1001:d=10,$(label "DISC B   16x9   CHAPTER 2" 24 34)[c2];"
    g+="[c1][c2]concat=n=2:v=1:a=0[bg];[bg][0:v]overlay=x=(W-w)/2:y=256-h/2,$(tcode 30000/1001 72)[v];"
    g+="$(tone 660),atrim=end=20[a0];"
    g+="$BEEP:d=20,asetnsamples=n=1536[a1]"
    "${FF[@]}" -i circle_b.png -filter_complex "$g" -map '[v]' -map '[a0]' -map '[a1]' \
        "${VENC[@]}" -g 18 -r 30000/1001 -aspect 16:9 -force_key_frames 0,10 \
        -c:a:0 pcm_dvd -sample_fmt:a:0 s16 -c:a:1 ac3 -b:a:1 192k -ar 48000 -ac 2 -t 20 \
        "${MUX[@]}" b1.mpg
}

# menu NAME COLOUR SECONDS COUNTER TITLE SUBTITLE BUTTONS...: menu
# background with filled buttons and their labels; silent AC-3.  BUTTONS are
# rows of the tables above.  COUNTER=yes adds a running frame number at
# the bottom left (shows a looping menu restarting).
menu() {
    local name=$1 colour=$2 secs=$3 counter=$4 g
    g="color=c=$colour:s=720x576:r=25:d=$secs,$(label "$5" 48 44),$(label "$6" 104 30)"
    shift 6
    local b
    for b in "$@"; do
        set -- $b
        local text=${*:11}
        g+=",$(box "$2" "$3" "$4" "$5" "${10}" fill)"
        g+=",drawtext=fontfile=$FONT:fontsize=30:fontcolor=white:borderw=2:bordercolor=black:x=$(( ($2 + $4) / 2 ))-tw/2:y=$(( ($3 + $5) / 2 ))-th/2:text='$text'"
    done
    if [[ $counter == yes ]]; then
        g+=",drawtext=fontfile=$MONO:fontsize=22:fontcolor=0xC0C0C0:x=20:y=540:text='%{n}'"
    fi
    g+="[v];"
    g+="anullsrc=r=48000:cl=stereo,atrim=end=$secs,asetnsamples=n=1536[a0]"
    "${FF[@]}" -filter_complex "$g" -map '[v]' -map '[a0]' \
        "${VENC[@]}" -g 15 -r 25 -aspect 4:3 "${AC3[@]}" -t "$secs" "${MUX[@]}" "$name.mpg"
}
main_menu() {
    menu menu_main 0x141E50 1 no "VELMORA TEST DISC A" "MAIN MENU" "${MAIN_BTNS[@]}"
}
chapter_menu() {
    menu menu_chap 0x145050 2 yes "TITLE 1" "CHAPTER MENU" "${CHAP_BTNS[@]}"
}

# ------------------------------------------------------------- subpictures
write_subtitle_sources() {
    local c s e
    : >en.srt
    for c in 0 1 2 3; do
        s=$(( c * 10 + 1 )); e=$(( c * 10 + 9 ))
        printf '%d\n00:00:%02d,000 --> 00:00:%02d,000\nEnglish subtitle - chapter %d\n\n' \
            $(( c + 1 )) "$s" "$e" $(( c + 1 )) >>en.srt
    done
    cat >en.xml <<EOF
<subpictures format="PAL">
  <stream>
    <textsub filename="en.srt" characterset="UTF-8" fontsize="28.0" font="$SUBFONT"
             horizontal-alignment="center" vertical-alignment="bottom"
             left-margin="60" right-margin="60" top-margin="20" bottom-margin="40"
             subtitle-fps="25" movie-fps="25" movie-width="720" movie-height="574"
             aspect="4:3"/>
  </stream>
</subpictures>
EOF
    {
        echo '<subpictures format="PAL">'
        echo '  <stream>'
        for c in 0 1 2 3; do
            printf '    <spu start="00:00:%02d.00" end="00:00:%02d.00" image="de%d.png" xoffset="60" yoffset="470"/>\n' \
                $(( c * 10 + 1 )) $(( c * 10 + 9 )) $(( c + 1 ))
        done
        echo '  </stream>'
        echo '</subpictures>'
    } >de.xml
}

# menu_spu_xml HL SEL BUTTONS...: one forced menu spu with explicit buttons
# and navigation, for rows of the tables above.
menu_spu_xml() {
    local hl=$1 sel=$2 b
    shift 2
    echo '<subpictures format="PAL">'
    echo '  <stream>'
    echo "    <spu start=\"00:00:00.00\" force=\"yes\" highlight=\"$hl\" select=\"$sel\">"
    for b in "$@"; do
        set -- $b
        printf '      <button name="%s" x0="%s" y0="%s" x1="%s" y1="%s" up="%s" down="%s" left="%s" right="%s"/>\n' \
            "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$8" "$9"
    done
    echo '    </spu>'
    echo '  </stream>'
    echo '</subpictures>'
}
write_menu_spu_sources() {
    menu_spu_xml main_hl.png main_sel.png "${MAIN_BTNS[@]}" >menu_main.xml
    menu_spu_xml chap_hl.png chap_sel.png "${CHAP_BTNS[@]}" >menu_chap.xml
}

# spu FORMAT STREAM XML IN OUT
spu() { VIDEO_FORMAT=$1 spumux -m dvd -s "$2" "$3" <"$4" >"$5"; }

# ------------------------------------------------------------ dvdauthor XML
write_author_sources() {
    cat >A.xml <<'EOF'
<dvdauthor format="pal">
  <vmgm>
    <fpc>jump vmgm menu 1;</fpc>
    <menus>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <pgc entry="title">
        <vob file="menu_main_spu.mpg" pause="inf"/>
        <button name="t1">jump title 1;</button>
        <button name="t2">jump title 2;</button>
        <button name="ch">jump titleset 1 menu entry root;</button>
      </pgc>
    </menus>
  </vmgm>
  <titleset>
    <menus>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <pgc entry="root,ptt">
        <vob file="menu_chap_spu.mpg"/>
        <button name="c1">jump title 1 chapter 1;</button>
        <button name="c2">jump title 1 chapter 2;</button>
        <button name="c3">jump title 1 chapter 3;</button>
        <button name="c4">jump title 1 chapter 4;</button>
        <button name="back">jump vmgm menu 1;</button>
        <post>jump cell 1;</post>
      </pgc>
    </menus>
    <titles>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <audio format="mp2" lang="fr"/>
      <subpicture lang="en"/>
      <subpicture lang="de"/>
      <pgc>
        <vob file="t1_spu.mpg" chapters="0,0:10,0:20,0:30"/>
        <post>call vmgm menu 1;</post>
      </pgc>
    </titles>
  </titleset>
  <titleset>
    <titles>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <pgc>
        <vob file="t2.mpg" pause="3"/>
        <post>call vmgm menu 1;</post>
      </pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF
    cat >B.xml <<'EOF'
<dvdauthor format="ntsc">
  <vmgm>
    <fpc>jump title 1;</fpc>
  </vmgm>
  <titleset>
    <titles>
      <video format="ntsc" aspect="16:9" widescreen="nopanscan"/>
      <audio format="pcm" quant="16bps" samplerate="48khz" channels="2"/>
      <audio format="ac3" lang="en"/>
      <pgc>
        <vob file="b1.mpg" chapters="0,0:10"/>
      </pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF
}

# ----------------------------------------------------------------- disc T
# Disc T holds the structures of real discs: menus that keep state in
# registers, a resume button, timed and infinite stills, forced captions,
# 5.1 / DTS / high-rate LPCM sound, 99 chapters and a series of 24 short
# titles.  Everything in it is kept small (low bit rate, flat pictures).
TENC=(-c:v mpeg2video -pix_fmt yuv420p -threads 2 -b:v 1200k -maxrate 8000k -minrate 0
      -bufsize 1835008 -bf 0 -sc_threshold 1000000000 -flags:v +cgop+bitexact -g 15 -r 25 -aspect 4:3)
# aevalsrc expression of a steady sine (amplitude 0.25).
sine() { printf '0.25*sin(2*PI*%s*t)' "$1"; }
# Six-channel AC-3 (5.1, side surrounds) with one tone per channel, in the
# order FL FR FC LFE SL SR; "0" is a silent channel.
AC3_51=(-c:a ac3 -b:a 384k -ar 48000 -ac 6)
surround() {  # surround FL FR FC LFE SL SR SECONDS
    local e="" f
    for f in "$1" "$2" "$3" "$4" "$5" "$6"; do
        if [[ $f == 0 ]]; then e+="0|"; else e+="$(sine "$f")|"; fi
    done
    printf "aevalsrc=exprs='%s':c=5.1(side):s=48000:d=%s,asetnsamples=n=1536" "${e%|}" "$7"
}

T_MAIN_BTNS=(
    "all  200 180 520 240 lang eps  all  all  0x3C4696 PLAY ALL"
    "eps  200 270 520 330 all  lang eps  eps  0x3C4696 EPISODES"
    "lang 200 360 520 420 eps  all  lang lang 0x3C4696 LANGUAGES"
)
T_ROOT_BTNS=(
    "play 200 160 520 210 aud  res  play play 0x3C4696 PLAY"
    "res  200 240 520 290 play chap res  res  0x3C4696 RESUME"
    "chap 200 320 520 370 res  aud  chap chap 0x3C4696 CHAPTERS"
    "aud  200 400 520 450 chap play aud  aud  0x3C4696 AUDIO"
)
T_AUDIO_BTNS=(
    "en 200 160 520 210 es en en en 0x3C4696 ENGLISH 5.1"
    "fr 200 240 520 290 en de fr fr 0x3C4696 FRANCAIS"
    "de 200 320 520 370 fr es de de 0x3C4696 DEUTSCH DTS"
    "es 200 400 520 450 de en es es 0x3C4696 ESPANOL LPCM"
)
T_STILL_BTNS=(
    "go 200 400 520 460 go go go go 0x3C4696 CONTINUE"
)
# Episode menu: 6 columns x 4 rows, button n plays title n of title set 2.
T_EP_BTNS=()
for ((n = 0; n < 24; n++)); do
    r=$(( n / 6 )); c=$(( n % 6 ))
    T_EP_BTNS+=("e$((n + 1)) $(( 40 + c * 110 )) $(( 160 + r * 90 )) $(( 140 + c * 110 )) $(( 230 + r * 90 ))
 e$(( (n + 18) % 24 + 1 )) e$(( (n + 6) % 24 + 1 )) e$(( r * 6 + (c + 5) % 6 + 1 )) e$(( r * 6 + (c + 1) % 6 + 1 )) 0x3C4696 $((n + 1))")
done
T_EP_BTNS=("${T_EP_BTNS[@]//$'\n'/}")

t_images() {
    hilite tmain_hl 0xFFFF00 "${T_MAIN_BTNS[@]}";   hilite tmain_sel 0xFF3030 "${T_MAIN_BTNS[@]}"
    hilite troot_hl 0xFFFF00 "${T_ROOT_BTNS[@]}";   hilite troot_sel 0xFF3030 "${T_ROOT_BTNS[@]}"
    hilite taud_hl 0xFFFF00 "${T_AUDIO_BTNS[@]}";   hilite taud_sel 0xFF3030 "${T_AUDIO_BTNS[@]}"
    hilite tstill_hl 0xFFFF00 "${T_STILL_BTNS[@]}"; hilite tstill_sel 0xFF3030 "${T_STILL_BTNS[@]}"
    hilite tep_hl 0xFFFF00 "${T_EP_BTNS[@]}";       hilite tep_sel 0xFF3030 "${T_EP_BTNS[@]}"
    subimg ten1 "English subtitle 1"
    subimg ten2 "English subtitle 2"
    subimg tforced "FORCED CAPTION"
}

# Title 1: 40 s, chapters at 0/10/20/30 s; four audio streams, one
# subpicture stream with a forced caption.
t_title1() {
    local cols=(0xB43C3C 0x3C963C 0x3C50B4 0xB4A03C) g="" c
    for c in 1 2 3 4; do
        g+="color=c=${cols[c-1]}:s=720x576:r=25:d=10,$(label "DISC T   TITLE 1   CHAPTER $c" 30 38)[c$c];"
    done
    g+="[c1][c2][c3][c4]concat=n=4:v=1:a=0,$(tcode 25 86)[v];"
    g+="$(surround 400 500 600 80 700 800 40)[a0];"
    # Frame sizes: MP2 1152, DTS 512, 24-bit stereo LPCM at 96 kHz 167 samples.
    g+="aevalsrc=exprs='$(sine 440)|$(sine 440)':c=stereo:s=48000:d=40,asetnsamples=n=1152[a1];"
    g+="aevalsrc=exprs='$(sine 330)|$(sine 330)':c=stereo:s=48000:d=40,asetnsamples=n=512[a2];"
    g+="aevalsrc=exprs='$(sine 550)|$(sine 550)':c=stereo:s=96000:d=40,aformat=sample_fmts=s32,asetnsamples=n=167[a3]"
    "${FF[@]}" -filter_complex "$g" -map '[v]' -map '[a0]' -map '[a1]' -map '[a2]' -map '[a3]' \
        "${TENC[@]}" -force_key_frames 0,10,20,30 \
        -c:a:0 ac3 -b:a:0 384k -ar:a:0 48000 -ac:a:0 6 \
        -c:a:1 mp2 -b:a:1 128k -ar:a:1 48000 -ac:a:1 2 \
        -c:a:2 dca -strict -2 -b:a:2 768k -ar:a:2 48000 -ac:a:2 2 \
        -c:a:3 pcm_dvd -sample_fmt:a:3 s32 -ar:a:3 96000 -ac:a:3 2 \
        -t 40 "${MUX[@]}" tt1.mpg
}

# tpart NAME SECONDS COLOUR LABEL [TONE]: a flat title piece with 5.1 AC-3
# (the tone, default 660 Hz, on the front pair).
tpart() {
    local tone=${5:-660} g
    g="color=c=$3:s=720x576:r=25:d=$2,$(label "$4" 30 38),$(tcode 25 86)[v];"
    g+="$(surround "$tone" "$tone" 0 0 0 0 "$2")[a0]"
    "${FF[@]}" -filter_complex "$g" -map '[v]' -map '[a0]' "${TENC[@]}" "${AC3_51[@]}" -t "$2" "${MUX[@]}" "$1.mpg"
}

# Title 2: chapter 1 (5 s), a 1 s cell held 4 s, chapter 2 (5 s),
# chapter 3: an infinite still with a "Continue" button, chapter 4 (5 s).
t_title2() {
    tpart tt2a 5 0x643C8C "DISC T   TITLE 2   CHAPTER 1"
    tpart tt2s 1 0x8C643C "DISC T   TITLE 2   TIMED STILL"
    tpart tt2b 5 0x3C8C64 "DISC T   TITLE 2   CHAPTER 2"
    local g
    g="color=c=0x3C3C3C:s=720x576:r=25:d=1,$(label "DISC T   TITLE 2   STILL" 30 38),$(label "PRESS CONTINUE" 104 30)"
    g+=",$(box 200 400 520 460 0x3C4696 fill)"
    g+=",drawtext=fontfile=$FONT:fontsize=30:fontcolor=white:borderw=2:bordercolor=black:x=360-tw/2:y=430-th/2:text='CONTINUE'[v];"
    g+="$(surround 660 660 0 0 0 0 1)[a0]"
    "${FF[@]}" -filter_complex "$g" -map '[v]' -map '[a0]' "${TENC[@]}" "${AC3_51[@]}" -t 1 "${MUX[@]}" tt2c.mpg
    tpart tt2d 5 0x8C3C64 "DISC T   TITLE 2   CHAPTER 4"
}

# Title 3: 99 chapters of 0.5 s (49.5 s); a key frame starts every chapter.
t_title3() {
    local g
    g="color=c=0x285A78:s=720x576:r=25:d=49.5,$(label "DISC T   TITLE 3" 30 38),$(tcode 25 86)"
    g+=",drawtext=fontfile=$FONT:fontsize=60:fontcolor=white:borderw=3:bordercolor=black:x=(w-tw)/2:y=260:text='CHAPTER %{eif\\:floor(t*2)+1\\:d}'[v];"
    g+="$(surround 900 900 0 0 0 0 49.5)[a0]"
    "${FF[@]}" -filter_complex "$g" -map '[v]' -map '[a0]' "${TENC[@]}" \
        -force_key_frames 'expr:gte(t,n_forced*0.5)' "${AC3_51[@]}" -t 49.5 "${MUX[@]}" tt3.mpg
}

# Title set 2: 24 episodes of 5 s (stereo AC-3, a tone of 300 + 20 n Hz).
t_episode() {
    local n=$1 g
    g="color=c=0x$(printf '%02X%02X%02X' $(( 40 + n * 8 )) 60 $(( 230 - n * 8 ))):s=720x576:r=25:d=5"
    g+=",$(label "DISC T   EPISODE $n" 30 38),$(tcode 25 86)[v];"
    g+="$(tone $(( 300 + 20 * n ))),atrim=end=5,asetnsamples=n=1536[a0]"
    "${FF[@]}" -filter_complex "$g" -map '[v]' -map '[a0]' "${TENC[@]}" "${AC3[@]}" -t 5 "${MUX[@]}" "tep$n.mpg"
}
t_episodes() {  # t_episodes FIRST LAST
    local n
    for ((n = $1; n <= $2; n++)); do t_episode "$n"; done
}

t_menus() {
    menu tmenu_main 0x1E3C28 1 no "VELMORA TEST DISC T" "MAIN MENU" "${T_MAIN_BTNS[@]}"
    menu tmenu_root 0x28283C 1 no "DISC T   TITLE SET 1" "ROOT MENU" "${T_ROOT_BTNS[@]}"
    menu tmenu_chap 0x145050 1 no "DISC T   TITLE 1" "CHAPTER MENU" "${CHAP_BTNS[@]}"
    menu tmenu_aud 0x3C2828 1 no "DISC T   TITLE 1" "AUDIO MENU" "${T_AUDIO_BTNS[@]}"
    menu tmenu_ep 0x283C3C 1 no "DISC T   TITLE SET 2" "EPISODES" "${T_EP_BTNS[@]}"
}

write_t_sources() {
    menu_spu_xml tmain_hl.png tmain_sel.png "${T_MAIN_BTNS[@]}" >tmenu_main.xml
    menu_spu_xml troot_hl.png troot_sel.png "${T_ROOT_BTNS[@]}" >tmenu_root.xml
    menu_spu_xml chap_hl.png chap_sel.png "${CHAP_BTNS[@]}" >tmenu_chap.xml
    menu_spu_xml taud_hl.png taud_sel.png "${T_AUDIO_BTNS[@]}" >tmenu_aud.xml
    menu_spu_xml tep_hl.png tep_sel.png "${T_EP_BTNS[@]}" >tmenu_ep.xml
    menu_spu_xml tstill_hl.png tstill_sel.png "${T_STILL_BTNS[@]}" >tt2c.xml
    cat >tt1.xml <<'EOF'
<subpictures format="PAL">
  <stream>
    <spu start="00:00:02.00" end="00:00:08.00" image="ten1.png" xoffset="60" yoffset="470"/>
    <spu start="00:00:10.00" end="00:00:15.00" image="tforced.png" xoffset="60" yoffset="470" force="yes"/>
    <spu start="00:00:22.00" end="00:00:28.00" image="ten2.png" xoffset="60" yoffset="470"/>
  </stream>
</subpictures>
EOF
    local n chapters="0" posts=""
    for ((n = 1; n < 99; n++)); do chapters+=",$(( n / 2 )).$(( n % 2 * 5 ))"; done
    {
        cat <<'EOF'
<dvdauthor format="pal">
  <vmgm>
    <fpc>g0 = 0; g1 = 0; g2 = 0; jump vmgm menu 1;</fpc>
    <menus>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <pgc entry="title">
        <vob file="tmenu_main_spu.mpg" pause="inf"/>
        <button name="all">g1 = 1; g2 = 1; jump title 4;</button>
        <button name="eps">jump titleset 2 menu;</button>
        <button name="lang">jump titleset 1 menu entry audio;</button>
      </pgc>
    </menus>
  </vmgm>
  <titleset>
    <menus>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <pgc entry="root">
        <vob file="tmenu_root_spu.mpg" pause="inf"/>
        <button name="play">jump title 1;</button>
        <button name="res">resume;</button>
        <button name="chap">jump menu 2;</button>
        <button name="aud">jump menu 3;</button>
      </pgc>
      <pgc entry="ptt">
        <vob file="tmenu_chap_spu.mpg" pause="inf"/>
        <button name="c1">jump title 1 chapter 1;</button>
        <button name="c2">jump title 1 chapter 2;</button>
        <button name="c3">jump title 1 chapter 3;</button>
        <button name="c4">jump title 1 chapter 4;</button>
        <button name="back">jump menu 1;</button>
      </pgc>
      <pgc entry="audio">
        <vob file="tmenu_aud_spu.mpg" pause="inf"/>
        <button name="en">g0 = 0; jump title 1;</button>
        <button name="fr">g0 = 1; jump title 1;</button>
        <button name="de">g0 = 2; jump title 1;</button>
        <button name="es">g0 = 3; jump title 1;</button>
      </pgc>
    </menus>
    <titles>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <audio format="mp2" lang="fr"/>
      <audio format="dts" channels="2" lang="de"/>
      <audio format="pcm" quant="24bps" samplerate="96khz" channels="2" lang="es"/>
      <subpicture lang="en"/>
      <pgc>
        <pre>audio = g0; subtitle = 0;</pre>
        <vob file="tt1_spu.mpg" chapters="0,0:10,0:20,0:30"/>
        <post>call menu entry root;</post>
      </pgc>
      <pgc>
        <pre>subtitle = 0;</pre>
        <vob file="tt2a.mpg" chapters="0"/>
        <vob file="tt2s.mpg" pause="4"/>
        <vob file="tt2b.mpg" chapters="0"/>
        <vob file="tt2c_spu.mpg" chapters="0" pause="inf"/>
        <vob file="tt2d.mpg" chapters="0"/>
        <button name="go">jump chapter 4;</button>
        <post>call menu entry root;</post>
      </pgc>
      <pgc>
EOF
        printf '        <vob file="tt3.mpg" chapters="%s"/>\n' "$chapters"
        cat <<'EOF'
        <post>call menu entry root;</post>
      </pgc>
    </titles>
  </titleset>
  <titleset>
    <menus>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <pgc entry="root">
        <vob file="tmenu_ep_spu.mpg" pause="inf"/>
EOF
        for ((n = 1; n <= 24; n++)); do
            printf '        <button name="e%d">g1 = 0; jump title %d;</button>\n' "$n" "$n"
        done
        cat <<'EOF'
      </pgc>
    </menus>
    <titles>
      <video format="pal" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
EOF
        # "Play all" (g1 = 1) chains the episodes: g2 counts the episode
        # playing; after the last, and outside "Play all", back to the menu.
        for ((n = 1; n <= 24; n++)); do
            printf '      <pgc>\n        <vob file="tep%d.mpg"/>\n' "$n"
            if ((n < 24)); then
                printf '        <post>if (g1 == 1) { g2 = g2 + 1; jump title %d; } call menu entry root;</post>\n' $((n + 1))
            else
                printf '        <post>g1 = 0; call vmgm menu 1;</post>\n'
            fi
            printf '      </pgc>\n'
        done
        cat <<'EOF'
    </titles>
  </titleset>
</dvdauthor>
EOF
    } >T.xml
}

# ------------------------------------------------------------------- build
write_subtitle_sources
write_menu_spu_sources
write_author_sources
write_t_sources

step images images
step t_images t_images
for p in main_hl main_sel chap_hl chap_sel de1 de2 de3 de4 circle_a circle_b \
         tmain_hl troot_hl taud_hl tstill_hl tep_hl ten1 ten2 tforced; do
    has_opaque "$p.png"
done

# Three lanes of about equal length (two cores; ffmpeg's start-up and the
# audio encoders leave room for a third).
lane1() {
    step title1 title1
    step spu_t1_en spu PAL 0 en.xml t1.mpg t1_en.mpg
    step spu_t1_de spu PAL 1 de.xml t1_en.mpg t1_spu.mpg
    step t_title1 t_title1
    step spu_tt1 spu PAL 0 tt1.xml tt1.mpg tt1_spu.mpg
}
lane2() {
    step main_menu main_menu
    step spu_main spu PAL 0 menu_main.xml menu_main.mpg menu_main_spu.mpg
    step chapter_menu chapter_menu
    step spu_chap spu PAL 0 menu_chap.xml menu_chap.mpg menu_chap_spu.mpg
    step title2 title2
    step titleb titleb
    step t_menus t_menus
    local m
    for m in main root chap aud ep; do
        step "spu_tmenu_$m" spu PAL 0 "tmenu_$m.xml" "tmenu_$m.mpg" "tmenu_${m}_spu.mpg"
    done
    step t_episodes_1 t_episodes 1 8
}
lane3() {
    step t_title3 t_title3
    step t_title2 t_title2
    step spu_tt2c spu PAL 0 tt2c.xml tt2c.mpg tt2c_spu.mpg
    step t_episodes_2 t_episodes 9 24
}
lane1 & PIDS+=($!)
lane2 & PIDS+=($!)
lane3 & PIDS+=($!)
join

bgstep dvdauthor_A env VIDEO_FORMAT=PAL dvdauthor -o A -x A.xml
bgstep dvdauthor_B env VIDEO_FORMAT=NTSC dvdauthor -o B -x B.xml
bgstep dvdauthor_T env VIDEO_FORMAT=PAL dvdauthor -o T -x T.xml
join

for d in A B T; do
    [[ -s $d/VIDEO_TS/VIDEO_TS.IFO && -s $d/VIDEO_TS/VTS_01_1.VOB ]] || die "disc $d is incomplete"
done
# Fixed file times: the disc folders are then byte-identical from run to run
# (the ISO still carries genisoimage's creation time).
find A B T -exec touch -h -d '2000-01-01 00:00:00 UTC' {} +
step iso_A genisoimage -quiet -dvd-video -V DISC_A -o A.iso A/

# --------------------------------------------------------- move into place
rm -f "$OUT/.stamp"
rm -rf "$OUT/A" "$OUT/B" "$OUT/T" "$OUT/A.iso"
mv A B T A.iso "$OUT/"
printf '%s\n' "$HASH" >"$OUT/.stamp"
