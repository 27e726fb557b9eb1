#!/usr/bin/env bash
# Start to first picture of `velmora-probe play`, from process launch to its
# first time notification on standard output (printed when the first
# picture of the title is presented), median of 9 runs, against the 200 ms
# budget; mpv's start to first frame is measured alongside when mpv exists.
#
#   bench/probe_startup.sh PROBE DISC_DIR
set -euo pipefail
PROBE=$1
DISC=$2

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ours=$(for _ in $(seq 9); do
    start=$(date +%s%N)
    # The time the first line arrives, not when the probe exits.
    end=$("$PROBE" play "$DISC" --title 1 --seconds 1 2>/dev/null | { read -r _; date +%s%N; cat >/dev/null; })
    echo $(( (end - start) / 1000000 ))
done | median)

mpv_ms=null
if command -v mpv >/dev/null; then
    mpv_ms=$(for _ in $(seq 9); do
        start=$(date +%s%N)
        mpv --no-config --really-quiet --vo=null --ao=null --frames=1 --dvd-device="$DISC" dvd://0 >/dev/null 2>&1 || true
        end=$(date +%s%N)
        echo $(( (end - start) / 1000000 ))
    done | median)
fi
awk -v o="$ours" -v m="$mpv_ms" \
    'BEGIN { printf "{\"measure\": \"probe_start_to_first_picture\", \"median_ms\": %d, \"budget_ms\": 200, \"ratio\": %.3f, \"mpv_ms\": %s}\n", o, o / 200, m }'
