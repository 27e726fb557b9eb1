#!/usr/bin/env bash
# Runs every Velmora benchmark and prints, for each, one "bench: ..." line with
# the figure, its reference (ffmpeg, mpv or our own reference run, measured in
# this same run) and the ratio, then one JSON summary line ("summary: {...}").
#
#   bench/run.sh [BUILD_DIR]          (default: $VELMORA_BUILD_DIR or ./build)
#
# Builds velmora-probe and velmora (and the in-process engine benchmarks when
# the build defines them), authors the test discs when BUILD_DIR/discs is
# missing, starts its own Xvfb display (the first free one from :4 to :9), an
# openbox window manager and a PulseAudio daemon with a null sink in private
# runtime folders, and stops them by PID at the end. See bench/README.md.
#
# Environment: BENCH_ONLY="decode seek probe-start engine player-start cpu-mem fullscreen"
# (a subset, in any order) runs only those parts; BENCH_QUICK=1 runs fewer
# repetitions (a smoke test, not figures to quote). BENCH_FS_SIZES="3840x2160"
# picks the full-screen sizes, BENCH_FS_GL=0 leaves out their OpenGL rows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${VELMORA_BUILD_DIR:-$root/build}}")
py=/usr/bin/python3
lib="$root/bench/velbench.py"
only=" ${BENCH_ONLY:-decode seek probe-start engine player-start cpu-mem fullscreen} "
wants() { [[ "$only" == *" $1 "* ]]; }

# Extra packages for the peers (mpv); a failure here only skips comparisons.
"$root/scripts/setup" --bench || echo "bench: scripts/setup --bench failed; peer comparisons may be skipped" >&2

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
targets=(velmora-probe velmora)
for t in bench_engine_seek bench_engine_play bench_disc_open; do
  if cmake --build "$build" --target help 2>/dev/null | grep -q "^$t:"; then targets+=("$t"); fi
done
buildlog=$(mktemp /tmp/velmora-bench-build.XXXXXX)
if ! cmake --build "$build" --target "${targets[@]}" -j2 >"$buildlog" 2>&1; then
  # The sources may be mid-edit: measure what is built, and say so.
  echo "bench: the build failed (last lines below); measuring the binaries already in $build" >&2
  grep -m3 -E 'error|FAILED' "$buildlog" | sed 's/^/bench:   /' >&2 || true
fi
rm -f "$buildlog"
[ -d "$build/discs/A/VIDEO_TS" ] || bash "$root/tests/discs/author.sh" "$build/discs" >/dev/null

find_bin() { find "$build" -type f -perm -u+x -name "$1" -not -path '*/CMakeFiles/*' | head -n1; }
probe=$(find_bin velmora-probe)
player=$(find_bin velmora)
seek_bench=$(find_bin bench_engine_seek)
play_bench=$(find_bin bench_engine_play)
open_bench=$(find_bin bench_disc_open)
discs="$build/discs"
[ -n "$probe" ] && [ -n "$player" ] || { echo "bench: velmora-probe or velmora not built in $build" >&2; exit 1; }
command -v mpv >/dev/null || echo "bench: mpv is not installed: every mpv comparison is skipped" >&2

scratch=$(mktemp -d /tmp/velmora-bench.XXXXXX)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
results="$scratch/results.jsonl"
: >"$results"

# Parts that need no display run first, on a quiet machine.
if wants decode; then
  "$py" "$lib" decode --probe "$probe" --disc "$discs/A" --title 1 --runs "${BENCH_DECODE_RUNS:-3}" >>"$results"
fi
if wants seek; then
  if [ -n "${BENCH_QUICK:-}" ]; then n=(--runs 10 --chapter-runs 3); else n=(--runs 50 --chapter-runs 15); fi
  "$py" "$lib" seek --probe "$probe" --disc "$discs/A" "${n[@]}" >>"$results"
fi
if wants probe-start; then
  "$py" "$lib" probe-start --probe "$probe" --disc "$discs/A" --runs "$([ -n "${BENCH_QUICK:-}" ] && echo 3 || echo 9)" >>"$results"
fi
if wants engine; then
  # The engine's own in-process measures (seek while playing, chapter skip),
  # when this build has them: their JSON goes to the summary as it is.
  if [ -n "$seek_bench" ]; then
    "$seek_bench" "$discs/A" | "$py" -c '
import json, sys
for line in sys.stdin:
    o = json.loads(line)
    o["measure"] = "engine_" + o["measure"]
    o["source"] = "bench_engine_seek (in process, paced, seeks while playing)"
    med, p95 = o.get("median_ms"), o.get("p95_ms")
    ok = med <= o["median_budget_ms"] and ("p95_budget_ms" not in o or p95 <= o["p95_budget_ms"]) \
        and o.get("worst_landing_off_ms", 0) < 40
    o["met"] = ok
    print("bench: engine %s (in process): median %.1f ms, p95 %.1f ms over %d, budget median %d ms%s%s -> ratio %.3f (%s)" % (
        o["measure"][7:], med, p95, o["runs"], o["median_budget_ms"],
        (", p95 %d ms" % o["p95_budget_ms"]) if "p95_budget_ms" in o else "",
        (", worst landing %.1f ms off" % o["worst_landing_off_ms"]) if "worst_landing_off_ms" in o else "",
        o["median_ratio"], "met" if ok else "NOT met"), file=sys.stderr)
    print(json.dumps(o))
' >>"$results" || echo "bench: bench_engine_seek failed" >&2
  else
    echo "bench: bench_engine_seek is not in this build: in-process seek figures skipped" >&2
  fi
fi

needs_x=0
for part in player-start cpu-mem engine fullscreen; do wants "$part" && needs_x=1; done
if [ "$needs_x" -eq 1 ]; then
  export XDG_RUNTIME_DIR="$scratch/run" XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache"
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  # A display below 10: some X clients turn shared memory off above it.
  display=""
  for n in 4 5 6 7 8 9; do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
    xpid=$!
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$xpid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      pids+=("$xpid"); display=":$n"; break
    fi
  done
  [ -n "$display" ] || { echo "bench: no free X display from :4 to :9" >&2; exit 1; }
  export DISPLAY="$display"
  openbox >"$scratch/openbox.log" 2>&1 &
  pids+=($!)
  pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    --load="module-null-sink sink_name=nullsink" \
    --load=module-native-protocol-unix >"$scratch/pulse.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 50); do
    [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break
    sleep 0.1
  done
  [ -S "$XDG_RUNTIME_DIR/pulse/native" ] || echo "bench: PulseAudio did not start: sound goes nowhere" >&2
  if [ -n "${BENCH_KEEP_SINK_AWAKE:-}" ]; then
    # As scripts/test does: an idle null sink holds a new stream's first
    # writes back; a silent low-latency stream keeps it awake (off by default:
    # it is not what a desktop's sound card does, and it costs CPU).
    pacat --latency-msec=20 /dev/zero >"$scratch/pacat.log" 2>&1 &
    pids+=($!)
    echo "bench: null sink kept awake by a silent stream (BENCH_KEEP_SINK_AWAKE)" >&2
  fi
  sleep 0.5

  if wants engine; then
    if [ -n "$play_bench" ]; then
      # A/V sync (share of pictures within 20 ms of the audio clock) as the
      # engine counts it, playing disc A title 1 for 20 s in a 611x412 window.
      if "$play_bench" "$discs/A" 20 >"$scratch/play_bench.out" 2>"$scratch/play_bench.err"; then
      "$py" - "$scratch/play_bench.out" "$scratch/play_bench.err" >>"$results" <<'PYEOF'
import json, sys
errors = sum(1 for line in open(sys.argv[2], errors="replace") if "error decoding" in line or "invalid" in line)
for line in open(sys.argv[1]):
    o = json.loads(line)
    s = o["av_sync_within_20ms"]
    ok = s >= o["av_sync_target"]
    if s < 0:
        print("bench: A/V sync: no picture was measured against an audio clock (sound: %s)" % o["audio_output"],
              file=sys.stderr)
        print(json.dumps({"measure": "av_sync_engine", "share_within_20ms": None, "met": False,
                          "audio_output": o["audio_output"], "error": "nothing measured"}))
        continue
    print("bench: A/V sync (engine count, bench_engine_play, %s s, sound: %s): %.1f %% of pictures within 20 ms of the "
          "audio clock, target >= 95 %% -> ratio %.3f (%s); the same run: CPU %.1f %% of a core, peak RSS %.1f MB "
          "(engine only, no UI); decoder error lines logged: %d" % (o["seconds"], o["audio_output"] or "none", s * 100, s / o["av_sync_target"],
                                    "met" if ok else "NOT met", o["cpu_percent"], o["peak_rss_mb"], errors), file=sys.stderr)
    print(json.dumps({"measure": "av_sync_engine", "share_within_20ms": round(s, 4), "target": ">= 0.95 within 20 ms",
                      "ratio": round(s / o["av_sync_target"], 3), "audio_output": o["audio_output"],
                      "engine_only_cpu_percent": round(o["cpu_percent"], 1),
                      "engine_only_peak_rss_mb": round(o["peak_rss_mb"], 1), "decoder_error_lines": errors, "met": ok,
                      "note": "share only: the engine keeps no per-picture error, so no p95 of |error|"}))
PYEOF
      else
        echo "bench: bench_engine_play failed: $(tail -n1 "$scratch/play_bench.err")" >&2
      fi
    else
      echo "bench: bench_engine_play is not in this build: A/V sync skipped (velmora-probe does not report it)" >&2
    fi
  fi
  if wants engine; then
    if [ -n "$open_bench" ] && [ -d "$discs/T/VIDEO_TS" ]; then
      # Opening disc T (27 titles, 99 chapters) against disc A, interleaved in one run.
      if "$open_bench" "$discs/A" "$discs/T" "$([ -n "${BENCH_QUICK:-}" ] && echo 3 || echo 7)" \
          >"$scratch/open_bench.out" 2>"$scratch/open_bench.err"; then
        "$py" - "$scratch/open_bench.out" >>"$results" <<'PYEOF'
import json, sys
for line in open(sys.argv[1]):
    o = json.loads(line)
    print("bench: disc open to first picture: disc T %.1f ms, disc A %.1f ms -> ratio %.2f, target <= 1.5 (%s)"
          % (o["disc_t_ms"], o["disc_a_ms"], o["ratio"], "met" if o["met"] else "NOT met"), file=sys.stderr)
    print(json.dumps(o))
PYEOF
      else
        echo "bench: bench_disc_open failed: $(tail -n1 "$scratch/open_bench.err")" >&2
      fi
    else
      echo "bench: bench_disc_open or disc T missing: disc open comparison skipped" >&2
    fi
  fi
  if wants player-start; then
    "$py" "$lib" player-start --player "$player" --discs "$discs" --runs "$([ -n "${BENCH_QUICK:-}" ] && echo 2 || echo 5)" >>"$results"
  fi
  if wants cpu-mem; then
    "$py" "$lib" cpu-mem --player "$player" --discs "$discs" --xvfb-pid "${pids[0]}" \
      --rounds "$([ -n "${BENCH_QUICK:-}" ] && echo 1 || echo 2)" --seconds "$([ -n "${BENCH_QUICK:-}" ] && echo 5 || echo 15)" >>"$results"
  fi
  if wants fullscreen; then
    # Full screen on large screens: each size gets its own Xvfb (below 10)
    # and window manager, stopped again before the next.
    for size in ${BENCH_FS_SIZES:-1920x1080 3840x2160}; do
      fsdisplay=""
      for n in 4 5 6 7 8 9; do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >"$scratch/xvfb-$size.log" 2>&1 &
        fsx=$!
        for _ in $(seq 1 50); do
          [ -e "/tmp/.X11-unix/X$n" ] && break
          sleep 0.1
        done
        if kill -0 "$fsx" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then fsdisplay=":$n"; pids+=("$fsx"); break; fi
      done
      if [ -z "$fsdisplay" ]; then echo "bench: no free X display for the $size full-screen rows" >&2; continue; fi
      DISPLAY="$fsdisplay" openbox >"$scratch/openbox-$size.log" 2>&1 &
      fswm=$!
      pids+=("$fswm")
      sleep 0.5
      rounds=$([ -n "${BENCH_QUICK:-}" ] && echo 1 || echo 2)
      secs=$([ -n "${BENCH_QUICK:-}" ] && echo 5 || echo 12)
      DISPLAY="$fsdisplay" "$py" "$lib" fullscreen --player "$player" --discs "$discs" --size "$size" \
        --xvfb-pid "$fsx" --rounds "$rounds" --seconds "$secs" >>"$results" || echo "bench: full screen $size failed" >&2
      # The OpenGL output on this machine's renderer (llvmpipe under Xvfb):
      # for information only, its CPU is the software renderer's.
      if [ "${BENCH_FS_GL:-1}" != 0 ]; then
        DISPLAY="$fsdisplay" "$py" "$lib" fullscreen --player "$player" --discs "$discs" --size "$size" --output gl \
          --xvfb-pid "$fsx" --rounds 1 --seconds "$secs" >>"$results" || echo "bench: full screen $size (gl) failed" >&2
      fi
      kill "$fswm" "$fsx" 2>/dev/null || true
      wait "$fswm" "$fsx" 2>/dev/null || true
    done
  fi
fi

"$py" - "$results" <<'EOF'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
met = [r["measure"] for r in rows if r.get("met") is True]
missed = [r["measure"] for r in rows if r.get("met") is False]
print("bench: %d figures, %d targets met, %d not met%s" % (len(rows), len(met), len(missed),
      (": " + ", ".join(missed)) if missed else ""), file=sys.stderr)
print("summary: " + json.dumps({"results": rows, "met": met, "not_met": missed}))
EOF
