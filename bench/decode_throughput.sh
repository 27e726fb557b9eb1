#!/usr/bin/env bash
# Decode throughput of a title through our navigator + demuxer + MPEG-2
# decoder (velmora-probe bench), against ffmpeg decoding the same VOB file's
# video with one thread, both run here, best of 3 each.
#
#   bench/decode_throughput.sh PROBE DISC_DIR [TITLE]
# Prints {"ours_fps": F, "ffmpeg_fps": F, "ratio": R, "target_ratio": 0.9}.
set -euo pipefail
PROBE=$1
DISC=$2
TITLE=${3:-1}
VOB=$(ls "$DISC"/VIDEO_TS/VTS_0${TITLE}_1.VOB)

frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$VOB")
best_ffmpeg=0
best_ours=0
for _ in 1 2 3; do
    start=$(date +%s.%N)
    ffmpeg -nostdin -v error -threads 1 -i "$VOB" -map 0:v -f null - 
    end=$(date +%s.%N)
    best_ffmpeg=$(awk -v n="$frames" -v a="$start" -v b="$end" -v best="$best_ffmpeg" 'BEGIN { f = n / (b - a); print (f > best ? f : best) }')
    # Timed the same way (whole process, open included), not by the probe's own clock.
    start=$(date +%s.%N)
    ours_frames=$("$PROBE" bench "$DISC" --title "$TITLE" 2>/dev/null | sed 's/.*"frames":\([0-9]*\).*/\1/')
    end=$(date +%s.%N)
    best_ours=$(awk -v n="$ours_frames" -v a="$start" -v b="$end" -v best="$best_ours" 'BEGIN { f = n / (b - a); print (f > best ? f : best) }')
done
awk -v n="$frames" -v o="$best_ours" -v f="$best_ffmpeg" \
    'BEGIN { printf "{\"frames\": %d, \"ours_fps\": %.0f, \"ffmpeg_fps\": %.0f, \"ratio\": %.3f, \"target_ratio\": 0.9}\n", n, o, f, o / f }'
