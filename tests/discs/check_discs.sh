#!/usr/bin/env bash
# Structure test for the discs made by tests/discs/author.sh.
#
#   tests/discs/check_discs.sh OUTDIR
#
# Confirms with lsdvd (titles, durations, chapters, languages), ffprobe
# (stream formats and ids, picture size and aspect; lsdvd mislabels the id of
# an MP2 stream, so formats are taken from ffprobe), isoinfo (ISO volume id)
# and a few bytes of the IFO/VOB files (cell still, post commands, menu
# buttons) that the discs are what tests/discs/discs.md says.  Prints one
# line per check and exits non-zero if any check fails.
set -uo pipefail
export LC_ALL=C

[[ $# -eq 1 ]] || { echo "usage: check_discs.sh OUTDIR" >&2; exit 2; }
OUT=$1
A=$OUT/A
B=$OUT/B
T=$OUT/T
ISO=$OUT/A.iso

fails=0
total=0
pass() { total=$((total + 1)); printf 'ok   %s\n' "$1"; }
fail() { total=$((total + 1)); fails=$((fails + 1)); printf 'FAIL %s\n' "$1"; }
# check DESCRIPTION GOT WANT
check() {
    if [[ $2 == "$3" ]]; then pass "$1: $2"; else fail "$1: got '$2', want '$3'"; fi
}
# near DESCRIPTION GOT WANT TOLERANCE (numbers)
near() {
    if [[ -n $2 ]] && awk -v g="$2" -v w="$3" -v t="$4" 'BEGIN{d=g-w; if(d<0)d=-d; exit !(d<=t)}'; then
        pass "$1: $2 (want $3 +-$4)"
    else
        fail "$1: got '$2', want $3 +-$4"
    fi
}

for tool in lsdvd ffprobe isoinfo od; do
    command -v "$tool" >/dev/null || { echo "FAIL missing tool $tool (Debian: lsdvd ffmpeg genisoimage)"; exit 1; }
done
for f in "$A/VIDEO_TS/VIDEO_TS.IFO" "$B/VIDEO_TS/VIDEO_TS.IFO" "$T/VIDEO_TS/VIDEO_TS.IFO" "$ISO"; do
    [[ -s $f ]] || { echo "FAIL missing $f (run tests/discs/author.sh $OUT)"; exit 1; }
done

# ------------------------------------------------------------------ helpers
# lsdvd's human-readable report (-x: everything); banner lines dropped.
report() { lsdvd -x "$1" 2>/dev/null | grep -E '^(Title|	)'; }
# seconds "hh:mm:ss.mmm" -> s.mmm
secs() { awk -F: '{printf "%.3f", $1*3600 + $2*60 + $3}'; }
# title_line REPORT N: the "Title: NN, ..." line
title_line() { grep -E "^Title: $(printf '%02d' "$2")," <<<"$1"; }
# title_block REPORT N: the indented lines of title N
title_block() { awk -v t="$(printf 'Title: %02d,' "$2")" '/^Title:/{on = index($0, t) == 1; next} on' <<<"$1"; }
# field KEY: the value of "KEY: value" on each input line that has one
# (values end at a comma or a space); field1 KEY: the first such value.
field() { sed -nE "s/(^|.*[\t ,])$1: ([^, ]*).*/\2/p"; }
field1() { field "$1" | head -n1; }
# ffprobe stream attribute by stream id (e.g. 0x80) of a VOB
probe() {
    ffprobe -v error -show_entries "stream=id,codec_name,width,height,display_aspect_ratio,sample_aspect_ratio,r_frame_rate,sample_rate,channels,bits_per_raw_sample" \
        -of compact=p=0:nk=0 "$1" 2>/dev/null
}
sattr() {  # sattr PROBE ID KEY
    grep -E "(^|\|)id=$2(\||$)" <<<"$1" | tr '|' '\n' | grep -E "^$3=" | head -n1 | cut -d= -f2
}
u8() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
u16() { local a b; a=$(u8 "$1" "$2"); b=$(u8 "$1" $(($2 + 1))); echo $((a * 256 + b)); }
u32() { echo $(( $(u16 "$1" "$2") * 65536 + $(u16 "$1" $(($2 + 2))) )); }
hexat() { od -An -tx1 -j "$2" -N"$3" "$1" | tr -d ' \n'; }
# First PGC of a title set's title table (VTS_PGCIT at sector in 0xCC).
vts_pgc() { local t; t=$(( $(u32 "$1" 204) * 2048 )); echo $(( t + $(u32 "$1" $((t + 12))) )); }
# post commands of PGC at offset: hex string of the first post command
pgc_post1() {
    local f=$1 pgc=$2 ct npre
    ct=$(( pgc + $(u16 "$f" $((pgc + 228))) ))
    npre=$(u16 "$f" "$ct")
    [[ $(u16 "$f" $((ct + 2))) -ge 1 ]] || { echo none; return; }
    hexat "$f" $((ct + 8 + 8 * npre)) 8
}
# still time of the last cell of PGC at offset
pgc_last_still() {
    local f=$1 pgc=$2 n cpb
    n=$(u8 "$f" $((pgc + 3)))
    cpb=$(u16 "$f" $((pgc + 232)))
    u8 "$f" $((pgc + cpb + 24 * (n - 1) + 2))
}
# number of post commands of PGC at offset
pgc_npost() { local ct; ct=$(( $2 + $(u16 "$1" $(($2 + 228))) )); u16 "$1" $((ct + 2)); }
# PGC N (1-based) of a title set's title table
vts_pgc_n() { local t; t=$(( $(u32 "$1" 204) * 2048 )); echo $(( t + $(u32 "$1" $((t + 8 + 8 * ($2 - 1) + 4))) )); }
# still time of cell N (1-based) of PGC at offset
pgc_cell_still() { u8 "$1" $(( $2 + $(u16 "$1" $(($2 + 232))) + 24 * ($3 - 1) + 2 )); }
# number of buttons in the first NAV pack of a VOB (PCI highlight info)
buttons() { u8 "$1" $((45 + 96 + 17)); }

# ------------------------------------------------------------------- disc A
echo "# disc A ($A)"
RA=$(report "$A")
check "A: number of titles" "$(grep -c '^Title:' <<<"$RA")" 2

T1=$(title_line "$RA" 1); B1=$(title_block "$RA" 1)
near "A title 1: length (s)" "$(field Length <<<"$T1" | secs)" 40 0.1
check "A title 1: chapters" "$(field Chapters <<<"$T1")" 04
i=0
while read -r len; do
    i=$((i + 1))
    near "A title 1 chapter $i: length (s)" "$(secs <<<"$len")" 10 0.05
done < <(grep -E '^	Chapter:' <<<"$B1" | field Length)
check "A title 1: TV standard" "$(field1 Format <<<"$B1")" PAL
check "A title 1: aspect" "$(field1 'Aspect ratio' <<<"$B1")" 4/3
check "A title 1: size" "$(field1 Width <<<"$B1")x$(field1 Height <<<"$B1")" 720x576
check "A title 1: audio streams" "$(field 'Audio streams' <<<"$T1")" 02
check "A title 1: audio languages" "$(grep -E '^	Audio:' <<<"$B1" | field Language | cut -c1-2 | paste -sd,)" en,fr
check "A title 1: subpicture streams" "$(field Subpictures <<<"$T1")" 02
check "A title 1: subpicture languages" "$(grep -E '^	Subtitle:' <<<"$B1" | field Language | cut -c1-2 | paste -sd,)" en,de
check "A title 1: subpicture stream ids" "$(grep -E '^	Subtitle:' <<<"$B1" | field 'Stream id' | paste -sd,)" 0x20,0x21

P1=$(probe "$A/VIDEO_TS/VTS_01_1.VOB")
check "A title 1 VOB: video" "$(sattr "$P1" 0x1e0 codec_name) $(sattr "$P1" 0x1e0 width)x$(sattr "$P1" 0x1e0 height) DAR $(sattr "$P1" 0x1e0 display_aspect_ratio) $(sattr "$P1" 0x1e0 r_frame_rate)" \
    "mpeg2video 720x576 DAR 4:3 25/1"
check "A title 1 VOB: audio 0 (0x80)" "$(sattr "$P1" 0x80 codec_name) $(sattr "$P1" 0x80 sample_rate)" "ac3 48000"
check "A title 1 VOB: audio 1 (0x1c0)" "$(sattr "$P1" 0x1c0 codec_name) $(sattr "$P1" 0x1c0 sample_rate)" "mp2 48000"
check "A title 1 VOB: subpicture 0 (0x20)" "$(sattr "$P1" 0x20 codec_name)" dvd_subtitle
check "A title 1 VOB: subpicture 1 (0x21)" "$(sattr "$P1" 0x21 codec_name)" dvd_subtitle
# Subpicture start times relative to the first picture: one per chapter, at 1 s into it.
v0=$(ffprobe -v error -select_streams v:0 -show_entries stream=start_time -of csv=p=0 "$A/VIDEO_TS/VTS_01_1.VOB" 2>/dev/null)
for sid in 0x20 0x21; do
    idx=$(ffprobe -v error -select_streams s -show_entries stream=index,id -of csv=p=0 "$A/VIDEO_TS/VTS_01_1.VOB" 2>/dev/null |
          awk -F, -v s="$sid" '$2 == s {print $1}')
    starts=$(ffprobe -v error -show_entries packet=stream_index,pts_time -of csv=p=0 "$A/VIDEO_TS/VTS_01_1.VOB" 2>/dev/null |
             awk -F, -v i="$idx" -v v0="$v0" '$1 == i && $2 != "N/A" {printf "%.2f\n", $2 - v0}' | sort -un -t, | paste -sd,)
    check "A title 1: subpicture $sid start times (s)" "$starts" "1.00,11.00,21.00,31.00"
done
check "A title 1: post command (call vmgm menu 1)" \
    "$(pgc_post1 "$A/VIDEO_TS/VTS_01_0.IFO" "$(vts_pgc "$A/VIDEO_TS/VTS_01_0.IFO")")" 3008000101c00000

T2=$(title_line "$RA" 2); B2=$(title_block "$RA" 2)
near "A title 2: length (s)" "$(field Length <<<"$T2" | secs)" 15 0.1
check "A title 2: chapters" "$(field Chapters <<<"$T2")" 01
check "A title 2: title set" "$(field1 VTS <<<"$B2")" 02
check "A title 2: audio languages" "$(grep -E '^	Audio:' <<<"$B2" | field Language | cut -c1-2 | paste -sd,)" en
P2=$(probe "$A/VIDEO_TS/VTS_02_1.VOB")
check "A title 2 VOB: audio 0 (0x80)" "$(sattr "$P2" 0x80 codec_name)" ac3
V2=$A/VIDEO_TS/VTS_02_0.IFO
check "A title 2: still at end (s)" "$(pgc_last_still "$V2" "$(vts_pgc "$V2")")" 3
check "A title 2: post command (call vmgm menu 1)" "$(pgc_post1 "$V2" "$(vts_pgc "$V2")")" 3008000101c00000

check "A main menu: buttons" "$(buttons "$A/VIDEO_TS/VIDEO_TS.VOB")" 3
check "A chapter menu: buttons" "$(buttons "$A/VIDEO_TS/VTS_01_0.VOB")" 5

# ------------------------------------------------------------------- disc B
echo "# disc B ($B)"
RB=$(report "$B")
check "B: number of titles" "$(grep -c '^Title:' <<<"$RB")" 1
TB=$(title_line "$RB" 1); BB=$(title_block "$RB" 1)
near "B title 1: length (s)" "$(field Length <<<"$TB" | secs)" 20 0.1
check "B title 1: chapters" "$(field Chapters <<<"$TB")" 02
i=0
while read -r len; do
    i=$((i + 1))
    near "B title 1 chapter $i: length (s)" "$(secs <<<"$len")" 10 0.05
done < <(grep -E '^	Chapter:' <<<"$BB" | field Length)
check "B title 1: TV standard" "$(field1 Format <<<"$BB")" NTSC
check "B title 1: aspect" "$(field1 'Aspect ratio' <<<"$BB")" 16/9
check "B title 1: size" "$(field1 Width <<<"$BB")x$(field1 Height <<<"$BB")" 720x480
check "B title 1: audio streams" "$(field 'Audio streams' <<<"$TB")" 02
check "B title 1: audio formats (lsdvd)" "$(grep -E '^	Audio:' <<<"$BB" | field Format | tr -d ' ' | paste -sd,)" lpcm,ac3
check "B title 1: audio 2 language" "$(grep -E '^	Audio:' <<<"$BB" | sed -n 2p | field Language | cut -c1-2)" en
check "B title 1: subpicture streams" "$(field Subpictures <<<"$TB")" 00
PB=$(probe "$B/VIDEO_TS/VTS_01_1.VOB")
check "B VOB: video" "$(sattr "$PB" 0x1e0 codec_name) $(sattr "$PB" 0x1e0 width)x$(sattr "$PB" 0x1e0 height) DAR $(sattr "$PB" 0x1e0 display_aspect_ratio) SAR $(sattr "$PB" 0x1e0 sample_aspect_ratio) $(sattr "$PB" 0x1e0 r_frame_rate)" \
    "mpeg2video 720x480 DAR 16:9 SAR 32:27 30000/1001"
check "B VOB: audio 0 (0xa0)" "$(sattr "$PB" 0xa0 codec_name) $(sattr "$PB" 0xa0 sample_rate) $(sattr "$PB" 0xa0 channels)ch $(sattr "$PB" 0xa0 bits_per_raw_sample)bit" \
    "pcm_dvd 48000 2ch 16bit"
check "B VOB: audio 1 (0x80)" "$(sattr "$PB" 0x80 codec_name) $(sattr "$PB" 0x80 sample_rate)" "ac3 48000"

# ------------------------------------------------------------------- disc T
echo "# disc T ($T)"
RT=$(report "$T")
check "T: number of titles" "$(grep -c '^Title:' <<<"$RT")" 27
T1=$(title_line "$RT" 1); B1=$(title_block "$RT" 1)
near "T title 1: length (s)" "$(field Length <<<"$T1" | secs)" 40 0.1
check "T title 1: chapters" "$(field Chapters <<<"$T1")" 04
check "T title 1: audio languages" "$(grep -E '^	Audio:' <<<"$B1" | field Language | cut -c1-2 | paste -sd,)" en,fr,de,es
check "T title 1: audio formats (lsdvd)" "$(grep -E '^	Audio:' <<<"$B1" | field Format | tr -d ' ' | paste -sd,)" ac3,mpeg1,dts,lpcm
check "T title 1: audio channels (attributes)" "$(grep -E '^	Audio:' <<<"$B1" | field Channels | paste -sd,)" 6,2,2,2
# lsdvd reports this stream at 48000 Hz (its quantisation right); the attribute's own bits are
# read here: 7-6 quantisation (2 = 24 bit), 5-4 rate (1 = 96 kHz).
a4=$(u8 "$T/VIDEO_TS/VTS_01_0.IFO" $((0x204 + 8 * 3 + 1)))
check "T title 1: LPCM attribute (quantisation, rate)" "$(( a4 >> 6 )),$(( (a4 >> 4) & 3 ))" 2,1
check "T title 1: subpicture languages" "$(grep -E '^	Subtitle:' <<<"$B1" | field Language | cut -c1-2 | paste -sd,)" en
PT=$(probe "$T/VIDEO_TS/VTS_01_1.VOB")
check "T VOB: audio 0x80" "$(sattr "$PT" 0x80 codec_name) $(sattr "$PT" 0x80 sample_rate) $(sattr "$PT" 0x80 channels)ch" "ac3 48000 6ch"
check "T VOB: audio 0x1c0" "$(sattr "$PT" 0x1c0 codec_name) $(sattr "$PT" 0x1c0 sample_rate) $(sattr "$PT" 0x1c0 channels)ch" "mp2 48000 2ch"
check "T VOB: audio 0x88" "$(sattr "$PT" 0x88 codec_name) $(sattr "$PT" 0x88 sample_rate) $(sattr "$PT" 0x88 channels)ch" "dts 48000 2ch"
check "T VOB: audio 0xa0" "$(sattr "$PT" 0xa0 codec_name) $(sattr "$PT" 0xa0 sample_rate) $(sattr "$PT" 0xa0 channels)ch $(sattr "$PT" 0xa0 bits_per_raw_sample)bit" \
    "pcm_dvd 96000 2ch 24bit"
check "T VOB: subpicture 0x20" "$(sattr "$PT" 0x20 codec_name)" dvd_subtitle
VT=$T/VIDEO_TS/VTS_01_0.IFO
check "T title 2: chapters" "$(title_line "$RT" 2 | field Chapters)" 04
check "T title 2: cell 2 still (s)" "$(pgc_cell_still "$VT" "$(vts_pgc_n "$VT" 2)" 2)" 4
check "T title 2: cell 4 still (infinite)" "$(pgc_cell_still "$VT" "$(vts_pgc_n "$VT" 2)" 4)" 255
check "T title 3: chapters" "$(title_line "$RT" 3 | field Chapters)" 99
near "T title 3: length (s)" "$(title_line "$RT" 3 | field Length | secs)" 49.5 0.1
bad=""
for t in $(seq 4 27); do
    l=$(title_line "$RT" "$t" | field Length | secs)
    awk -v l="$l" 'BEGIN{exit !(l > 4.9 && l < 5.1)}' || bad+=" $t:$l"
    [[ $(title_block "$RT" "$t" | field1 VTS) == 02 ]] || bad+=" $t:vts"
done
check "T titles 4-27: 5 s each in title set 2" "${bad:-yes}" yes
V2T=$T/VIDEO_TS/VTS_02_0.IFO
check "T title 4: post commands (the Play all chain)" "$(pgc_npost "$V2T" "$(vts_pgc "$V2T")")" 4
check "T main menu: buttons" "$(buttons "$T/VIDEO_TS/VIDEO_TS.VOB")" 3
check "T title set 1 root menu: buttons" "$(buttons "$T/VIDEO_TS/VTS_01_0.VOB")" 4
check "T episode menu: buttons" "$(buttons "$T/VIDEO_TS/VTS_02_0.VOB")" 24

# -------------------------------------------------------------------- ISO
echo "# A.iso ($ISO)"
check "A.iso: volume id" "$(isoinfo -d -i "$ISO" 2>/dev/null | sed -n 's/^Volume id: //p')" DISC_A
RI=$(report "$ISO")
check "A.iso: number of titles (libdvdread)" "$(grep -c '^Title:' <<<"$RI")" 2
near "A.iso title 1: length (s)" "$(title_line "$RI" 1 | field Length | secs)" 40 0.1
check "A.iso title 1: chapters" "$(title_line "$RI" 1 | field Chapters)" 04

echo "# $((total - fails))/$total checks passed"
[[ $fails -eq 0 ]]
