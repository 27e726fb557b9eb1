#!/usr/bin/python3
"""Measurements behind bench/run.sh.

Each subcommand prints one human line per figure ("bench: ...") on standard
error and one JSON object per figure on standard output, with the figure, the
reference it is compared with (a peer or our own reference run, measured in
the same invocation) and the ratio. bench/run.sh sets up the display and the
sound server and collects the JSON lines.

Run with the Debian interpreter (/usr/bin/python3): it needs numpy and PIL.
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

now = time.monotonic


def say(text):
    print("bench: " + text, file=sys.stderr, flush=True)


def emit(obj):
    print(json.dumps(obj, sort_keys=False), flush=True)


def median(values):
    return statistics.median(values) if values else None


def percentile(values, p):
    """Nearest-rank percentile."""
    if not values:
        return None
    v = sorted(values)
    k = max(0, min(len(v) - 1, int(-(-p * len(v) // 100)) - 1))
    return v[k]


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return round(a / b, 3)


def r1(x):
    return None if x is None else round(x, 1)


def verdict(ok):
    return "met" if ok else "NOT met"


# ---------------------------------------------------------------- the disc

def disc_info(probe, disc):
    out = subprocess.run([probe, "info", disc], capture_output=True, text=True, check=True).stdout
    return json.loads(out)


def tc_to_frames(text, fps):
    h, m, s, f = (int(x) for x in text.split(":"))
    return ((h * 60 + m) * 60 + s) * fps + f


def frames_to_tc(n, fps):
    f = n % fps
    s = n // fps
    return "%02d:%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60, f)


def fps_of(title):
    return 25 if title["video"]["standard"] == "PAL" else 30


# ---------------------------------------------------------------- 1. decode

def cmd_decode(a):
    vob = os.path.join(a.disc, "VIDEO_TS", "VTS_%02d_1.VOB" % a.title)
    ours_fps, ours_internal, ff_fps = [], [], []
    frames_ours = frames_ff = None
    for run in range(a.runs):
        # ffmpeg: whole process, frames from its progress report.
        t0 = now()
        p = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-nostats", "-progress", "pipe:1",
                            "-threads", "1", "-i", vob, "-map", "0:v", "-f", "null", "-"],
                           capture_output=True, text=True)
        t1 = now()
        if p.returncode != 0:
            say("ffmpeg failed: " + p.stderr.strip()[-300:])
            return 1
        frames_ff = int(re.findall(r"^frame=(\d+)", p.stdout, re.M)[-1])
        ff_fps.append(frames_ff / (t1 - t0))
        # Ours: whole process too, frames from the probe's own count.
        t0 = now()
        p = subprocess.run([a.probe, "bench", a.disc, "--title", str(a.title)], capture_output=True, text=True)
        t1 = now()
        if p.returncode != 0:
            say("velmora-probe bench failed: " + p.stderr.strip())
            return 1
        o = json.loads(p.stdout.strip().splitlines()[-1])
        frames_ours = o["frames"]
        ours_fps.append(frames_ours / (t1 - t0))
        ours_internal.append(o["fps"])
    o, f = median(ours_fps), median(ff_fps)
    rr = ratio(o, f)
    say("decode throughput: ours %.0f frames/s (%d frames, whole process; probe's own clock %.0f) vs ffmpeg -threads 1 "
        "%.0f frames/s (%d frames), median of %d interleaved -> ratio %.3f (target >= 0.9: %s)"
        % (o, frames_ours, median(ours_internal), f, frames_ff, a.runs, rr, verdict(rr >= 0.9)))
    emit({"measure": "decode_throughput", "ours_fps": round(o), "ours_fps_probe_clock": round(median(ours_internal)),
          "ours_frames": frames_ours, "reference": "ffmpeg -threads 1 VOB video to null", "reference_fps": round(f),
          "reference_frames": frames_ff, "runs": a.runs, "ratio": rr, "target": ">= 0.9", "met": rr >= 0.9})
    return 0


# ---------------------------------------------------------------- 2./3. probe runs timed to a frame file

FRAME_RE = re.compile(r"^frame-(\d{8})\.png$")


def first_frame(cmd, outdir, timeout=10.0, exts=(".png",)):
    """Starts cmd and polls outdir for the first picture file; returns
    (seconds from launch to the file's appearance, its name, the process)."""
    t0 = now()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    found = None
    while now() - t0 < timeout:
        try:
            names = [n for n in os.listdir(outdir) if n.endswith(exts)]
        except FileNotFoundError:
            names = []
        if names:
            found = min(names)
            break
        if proc.poll() is not None:
            # Exited: it may have written the file between the poll and now.
            names = [n for n in os.listdir(outdir) if n.endswith(exts)] if os.path.isdir(outdir) else []
            found = min(names) if names else None
            break
        time.sleep(0.0005)
    t1 = now()
    return (t1 - t0 if found else None), found, proc


def finish(proc, timeout=10):
    try:
        _, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        _, err = proc.communicate()
    return proc.returncode, err


def probe_frame_run(a, extra, scratch):
    d = tempfile.mkdtemp(dir=scratch)
    cmd = [a.probe, "play", a.disc, "--title", "1", "--frames", d, "--every", "3600000", "--seconds", "0.2"] + extra
    dt, name, proc = first_frame(cmd, d)
    rc, err = finish(proc)
    shutil.rmtree(d, ignore_errors=True)
    if rc != 0 or name is None:
        say("probe %s: exit %s, %s" % (" ".join(extra), rc, (err or "").strip()[-200:]))
        return None, None
    return dt, int(FRAME_RE.match(name).group(1))


def cmd_seek(a):
    info = disc_info(a.probe, a.disc)
    title = next(t for t in info["titles"] if t["number"] == 1)
    fps = fps_of(title)
    frame_ms = 1000.0 / fps
    total = tc_to_frames(title["duration"], fps)
    scratch = tempfile.mkdtemp(prefix="velmora-bench-seek.")
    rng = random.Random(a.seed)
    targets = [rng.randrange(0, total - fps // 2) for _ in range(a.runs)]
    base, lat, extra, offs, misses = [], [], [], [], 0
    # Paired with a reference run: before every seek, the plain start of
    # title 1 to its first frame file; the figure is the difference within
    # the pair, so drift on a shared machine touches both alike.
    for n in targets:
        bdt, _ = probe_frame_run(a, [], scratch)
        dt, ms = probe_frame_run(a, ["--at", frames_to_tc(n, fps)], scratch)
        if dt is None or bdt is None:
            misses += 1
            continue
        base.append(bdt * 1000)
        lat.append(dt * 1000)
        extra.append((dt - bdt) * 1000)
        offs.append(ms - n * 1000.0 / fps)
    ref = median(base)
    worst = max((abs(x) for x in offs), default=None)
    on_target = sum(1 for x in offs if 0 <= x < frame_ms)
    med, p95 = median(extra), percentile(extra, 95)
    ok = med is not None and med <= 100 and p95 <= 150 and on_target == len(offs) and misses == 0
    say("PlayAtTime (probe --at, %d seeded targets, seed %d): launch to target frame median %.0f ms; minus plain start "
        "to first frame %.0f ms (reference, median of %d, run before each seek) = seek cost (paired differences) median %.0f ms, p95 %.0f ms (targets 100/150); "
        "landed on the target frame %d/%d, worst %.1f ms off (%s)"
        % (len(lat), a.seed, median(lat), ref, len(base), med, p95, on_target, len(offs), worst, verdict(ok)))
    emit({"measure": "play_at_time_probe", "runs": len(lat), "failed": misses, "seed": a.seed,
          "launch_to_target_frame_median_ms": r1(median(lat)), "reference": "probe start to title 1 first frame, run before each seek",
          "reference_ms": r1(ref), "median_ms": r1(med), "p95_ms": r1(p95), "median_ratio": ratio(med, 100),
          "p95_ratio": ratio(p95, 150), "on_target_frame": on_target, "worst_off_ms": r1(worst),
          "target": "median <= 100 ms, p95 <= 150 ms, < 1 frame off", "met": ok})

    # Chapter skips: start at chapter C, first frame must be the chapter's first.
    chapters = title["chapters"]
    clat, cextra, coffs = [], [], []
    for i in range(a.chapter_runs):
        c = chapters[1 + i % (len(chapters) - 1)]
        start_ms = tc_to_frames(c["start"], fps) * 1000.0 / fps
        bdt, _ = probe_frame_run(a, [], scratch)
        dt, ms = probe_frame_run(a, ["--chapter", str(c["number"])], scratch)
        if dt is None or bdt is None:
            continue
        clat.append(dt * 1000)
        cextra.append((dt - bdt) * 1000)
        coffs.append(ms - start_ms)
    cmed = median(cextra)
    cworst = max((abs(x) for x in coffs), default=None)
    con = sum(1 for x in coffs if 0 <= x < frame_ms)
    ok = cmed is not None and cmed <= 100 and con == len(coffs) and len(clat) == a.chapter_runs
    say("Chapter start (probe --chapter 2..%d, %d runs): launch to chapter's first frame median %.0f ms; minus a "
        "reference run before each = median %.0f ms, p95 %.0f ms (target median 100); on the chapter's first frame %d/%d, worst %.1f ms "
        "off (%s)" % (len(chapters), len(clat), median(clat), cmed, percentile(cextra, 95), con, len(coffs), cworst,
                      verdict(ok)))
    emit({"measure": "chapter_start_probe", "runs": len(clat), "launch_to_chapter_frame_median_ms": r1(median(clat)),
          "reference_ms": r1(ref), "median_ms": r1(cmed), "p95_ms": r1(percentile(cextra, 95)),
          "median_ratio": ratio(cmed, 100), "on_chapter_first_frame": con, "worst_off_ms": r1(cworst),
          "target": "median <= 100 ms on the chapter's first frame", "met": ok})
    shutil.rmtree(scratch, ignore_errors=True)
    return 0


def cmd_probe_start(a):
    scratch = tempfile.mkdtemp(prefix="velmora-bench-start.")
    line_ms, file_ms, mpv_ms = [], [], []
    have_mpv = shutil.which("mpv") is not None
    for _ in range(a.runs):
        # Launch to the first time notification (printed when the first picture is presented).
        t0 = now()
        p = subprocess.Popen([a.probe, "play", a.disc, "--title", "1", "--seconds", "0.3"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
        first = p.stdout.readline()
        t1 = now()
        p.stdout.read()
        p.wait()
        if first.startswith("{"):
            line_ms.append((t1 - t0) * 1000)
        # Launch to the first picture written as a PNG file: the same sink mpv gets below.
        dt, _ = probe_frame_run(a, [], scratch)
        if dt is not None:
            file_ms.append(dt * 1000)
        if have_mpv:
            d = tempfile.mkdtemp(dir=scratch)
            cmd = ["mpv", "--no-config", "--really-quiet", "--ao=null", "--vo=image", "--vo-image-format=png",
                   "--vo-image-png-compression=1", "--vo-image-outdir=" + d, "--frames=1",
                   "--dvd-device=" + a.disc, "dvd://" + str(a.mpv_title)]
            dt, _, proc = first_frame(cmd, d)
            finish(proc)
            if dt is not None:
                mpv_ms.append(dt * 1000)
            shutil.rmtree(d, ignore_errors=True)
    lm, fm, mm = median(line_ms), median(file_ms), median(mpv_ms)
    ok = lm is not None and lm <= 200
    say("Probe start to first picture: launch to first time notification median %.0f ms over %d (target <= 200 ms: %s); "
        "launch to first PNG frame file %.0f ms vs mpv --vo=image %s -> ratio %s"
        % (lm, len(line_ms), verdict(ok), fm, ("%.0f ms" % mm) if mm else "skipped (mpv missing or failed)",
           ratio(fm, mm)))
    emit({"measure": "probe_start_to_first_picture", "runs": len(line_ms), "median_ms": r1(lm), "budget_ms": 200,
          "budget_ratio": ratio(lm, 200), "first_png_median_ms": r1(fm),
          "reference": "mpv --vo=image --frames=1 first PNG" if mm else "mpv skipped",
          "reference_ms": r1(mm), "ratio": ratio(fm, mm), "target": "<= 200 ms", "met": ok})
    shutil.rmtree(scratch, ignore_errors=True)
    return 0


# ---------------------------------------------------------------- X screen helpers

class _XImage(__import__("ctypes").Structure):
    import ctypes as _c
    _fields_ = [("width", _c.c_int), ("height", _c.c_int), ("xoffset", _c.c_int), ("format", _c.c_int),
                ("data", _c.c_void_p), ("byte_order", _c.c_int), ("bitmap_unit", _c.c_int),
                ("bitmap_bit_order", _c.c_int), ("bitmap_pad", _c.c_int), ("depth", _c.c_int),
                ("bytes_per_line", _c.c_int), ("bits_per_pixel", _c.c_int)]


_x = {}


def grab(display):
    """The whole screen as an RGB array, over one X connection kept open (a
    new connection per grab runs the server out of them when polled fast)."""
    import ctypes
    import numpy
    if display not in _x:
        lib = _x.get("lib")
        if lib is None:
            lib = _x["lib"] = ctypes.CDLL("libX11.so.6")
            lib.XOpenDisplay.restype = ctypes.c_void_p
            lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
            lib.XDefaultRootWindow.restype = ctypes.c_ulong
            lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            lib.XDisplayWidth.argtypes = lib.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
            lib.XGetImage.restype = ctypes.POINTER(_XImage)
            lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                      ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
            lib.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
        dpy = lib.XOpenDisplay(display.encode())
        if not dpy:
            raise RuntimeError("cannot open display " + display)
        _x[display] = (dpy, lib.XDefaultRootWindow(dpy), lib.XDisplayWidth(dpy, 0), lib.XDisplayHeight(dpy, 0))
    lib = _x["lib"]
    dpy, root, w, h = _x[display]
    img = lib.XGetImage(dpy, root, 0, 0, w, h, 0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
    if not img:
        raise RuntimeError("XGetImage failed")
    try:
        im = img.contents
        if im.bits_per_pixel != 32:
            raise RuntimeError("screen depth %d bpp: use a 24-bit screen" % im.bits_per_pixel)
        raw = numpy.frombuffer(ctypes.string_at(im.data, im.bytes_per_line * im.height), dtype=numpy.uint8)
        bgrx = raw.reshape(im.height, im.bytes_per_line // 4, 4)[:, :im.width]
        return bgrx[:, :, 2::-1].copy()  # BGRX -> RGB
    finally:
        lib.XDestroyImage(img)


def colour_pixels(img, rgb, tol=40, step=4):
    import numpy
    sub = img[::step, ::step].astype(numpy.int16)
    match = (numpy.abs(sub - numpy.array(rgb, dtype=numpy.int16)) <= tol).all(axis=2)
    return int(match.sum()) * step * step


def wait_colour(display, rgb, min_pixels, t0, timeout, proc=None):
    """Polls the screen until at least min_pixels show rgb; seconds since t0."""
    while now() - t0 < timeout:
        img = grab(display)
        if colour_pixels(img, rgb) >= min_pixels:
            return now() - t0
        if proc is not None and proc.poll() is not None:
            return None
        time.sleep(0.003)
    return None


def colour_bbox(img, rgb, tol=40):
    """Width and height of the box around the pixels showing rgb (the picture)."""
    import numpy
    match = (numpy.abs(img.astype(numpy.int16) - numpy.array(rgb, dtype=numpy.int16)) <= tol).all(axis=2)
    ys, xs = numpy.nonzero(match)
    if len(xs) == 0:
        return None
    return int(xs.max() - xs.min() + 1), int(ys.max() - ys.min() + 1)


def xdo(*args):
    return subprocess.run(["xdotool"] + list(args), capture_output=True, text=True).stdout.split()


def window_geometry(wid):
    out = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True).stdout
    g = {}
    for key, name in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"), ("w", "Width"),
                      ("h", "Height"), ("map", "Map State")):
        m = re.search(name + r":\s+(\S+)", out)
        if m:
            g[key] = m.group(1) if key == "map" else int(m.group(1))
    return g


def video_window(pid, timeout=10):
    """The player's mapped top-level window that is not the 418x113 panel."""
    t0 = now()
    while now() - t0 < timeout:
        for wid in xdo("search", "--onlyvisible", "--pid", str(pid)):
            g = window_geometry(wid)
            if g.get("map") == "IsViewable" and g.get("w", 0) > 200 and (g["w"], g["h"]) != (418, 113):
                return wid, g
        time.sleep(0.1)
    return None, None


DISC_COLOURS = {"A_menu": (20, 30, 80), "A_t1c1": (200, 30, 30), "B_c1": (30, 170, 200)}


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def cmd_player_start(a):
    """Launch of the player (or mpv) to its first picture on the Xvfb screen."""
    display = os.environ["DISPLAY"]
    have_mpv = shutil.which("mpv") is not None
    rows = []
    cases = [("velmora", "B", "B_c1"), ("mpv", "B", "B_c1"), ("velmora", "A", "A_menu"), ("mpv", "A", "A_t1c1")]
    res = {c: [] for c in cases}
    for _ in range(a.runs):
        for case in cases:
            who, disc, colour = case
            path = os.path.join(a.discs, disc)
            if who == "mpv":
                if not have_mpv:
                    continue
                cmd = ["mpv", "--no-config", "--really-quiet", "--vo=x11", "--ao=pulse", "--geometry=611x412+0+0",
                       "--dvd-device=" + path, "dvd://" + str(a.mpv_title)]
            else:
                cmd = [a.player, path]
            t0 = now()
            proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            dt = wait_colour(display, DISC_COLOURS[colour], 20000, t0, 15, proc)
            stop(proc)
            time.sleep(0.3)
            if dt is not None:
                res[case].append(dt * 1000)
            else:
                say("%s on disc %s: no picture of the expected colour on screen within 15 s" % (who, disc))
    for disc, colour in (("B", "B_c1"), ("A", "A_menu")):
        ours = median(res[("velmora", disc, colour)])
        mcase = [c for c in cases if c[0] == "mpv" and c[1] == disc][0]
        peer = median(res[mcase])
        ok = ours is not None and ours <= 400
        what = "its first title at once" if disc == "B" else "its main menu (mpv: title 1 as dvd://%d, it skips menus)" % a.mpv_title
        say("Player start to first picture on screen, disc %s (%s): ours median %s ms over %d (target <= 400 ms: %s) vs "
            "mpv --vo=x11 %s -> ratio %s" % (disc, what, r1(ours), len(res[("velmora", disc, colour)]), verdict(ok),
                                              ("%.0f ms" % peer) if peer else "skipped (mpv missing or failed)",
                                              ratio(ours, peer)))
        emit({"measure": "player_start_to_first_picture_disc_" + disc, "runs": len(res[("velmora", disc, colour)]),
              "median_ms": r1(ours), "all_ms": [round(x) for x in res[("velmora", disc, colour)]],
              "reference": "mpv --vo=x11" if peer else "mpv skipped", "reference_ms": r1(peer),
              "ratio": ratio(ours, peer), "budget_ms": 400, "target": "<= 400 ms", "met": ok})
    return 0


# ---------------------------------------------------------------- 5. CPU and memory

CLK_TCK = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)


def vm_hwm_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


def status_kb(pid, key):
    """A "key: N kB" field of /proc/pid/status (RssShmem, RssAnon...), None when absent."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def sample_cpu(pids, seconds):
    """CPU % of one core of each pid over the next `seconds`."""
    t0, c0 = now(), {p: cpu_ticks(p) for p in pids}
    time.sleep(seconds)
    t1, c1 = now(), {p: cpu_ticks(p) for p in pids}
    return {p: (c1[p] - c0[p]) / CLK_TCK / (t1 - t0) * 100 for p in pids}


def start_title1_in_player(a, display):
    """Starts the player on disc A and plays title 1 through main menu button 1."""
    proc = subprocess.Popen([a.player, os.path.join(a.discs, "A")], stdout=subprocess.DEVNULL,
                            stderr=open(a.stderr_file, "w") if a.stderr_file else subprocess.DEVNULL)
    t0 = now()
    if wait_colour(display, DISC_COLOURS["A_menu"], 20000, t0, 15, proc) is None:
        return proc, "the main menu never showed"
    wid, g = video_window(proc.pid)
    if not wid:
        return proc, "no video window found"
    # The picture is 4:3 (768x576 shown) letterboxed in the window; button 1
    # covers stored-picture x 200-520, y 180-240: aim at its middle (360, 210).
    sw, sh = 768.0, 576.0
    scale = min(g["w"] / sw, g["h"] / sh)
    ox, oy = (g["w"] - sw * scale) / 2, (g["h"] - sh * scale) / 2
    x = int(ox + 360 * 16 / 15 * scale)
    y = int(oy + 210 * scale)
    time.sleep(0.5)
    xdo("mousemove", "--window", wid, str(x), str(y))
    time.sleep(0.2)
    xdo("click", "--window", wid, "1")
    t1 = now()
    if wait_colour(display, DISC_COLOURS["A_t1c1"], 20000, t1, 5, proc) is None:
        # Keyboard as the fallback: focus on the picture, Return activates the highlighted button.
        xdo("windowactivate", "--sync", wid)
        xdo("key", "--window", wid, "Return")
        if wait_colour(display, DISC_COLOURS["A_t1c1"], 20000, now(), 5, proc) is None:
            return proc, "title 1 did not start from the menu (click at %d,%d of %dx%d, then Return)" % (
                x, y, g["w"], g["h"])
    return proc, None


def cmd_cpu_mem(a):
    display = os.environ["DISPLAY"]
    have_mpv = shutil.which("mpv") is not None
    xpid = int(a.xvfb_pid) if a.xvfb_pid else None
    res = {"velmora": [], "mpv": []}
    notes = []
    for rnd in range(a.rounds):
        for who in ("velmora", "mpv"):
            if who == "mpv" and not have_mpv:
                continue
            if who == "velmora":
                a.stderr_file = tempfile.mktemp(prefix="velmora-bench-player.", suffix=".log")
                proc, err = start_title1_in_player(a, display)
            else:
                proc = subprocess.Popen(["mpv", "--no-config", "--really-quiet", "--vo=x11", "--ao=pulse",
                                         "--geometry=611x412+0+0", "--dvd-device=" + os.path.join(a.discs, "A"),
                                         "dvd://" + str(a.mpv_title)], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
                err = None
                if wait_colour(display, DISC_COLOURS["A_t1c1"], 20000, now(), 15, proc) is None:
                    err = "mpv showed no title 1 picture"
            if err:
                say("%s: %s; skipped this round" % (who, err))
                notes.append(who + ": " + err)
                stop(proc)
                continue
            time.sleep(1.0)  # past the start-up
            pids = [proc.pid] + ([xpid] if xpid else [])
            before = grab(display)
            cpu = sample_cpu(pids, a.seconds)
            after = grab(display)
            # Playing, not frozen: the burnt-in time code changed on screen.
            moving = int((before != after).any(axis=2).sum())
            picture = colour_bbox(before, DISC_COLOURS["A_t1c1"])
            if os.environ.get("BENCH_SHOTS"):
                from PIL import Image
                Image.fromarray(after).save(os.path.join(os.environ["BENCH_SHOTS"], "cpu-%s-%d.png" % (who, rnd)))
            hwm = vm_hwm_kb(proc.pid)
            alive = proc.poll() is None
            sink = subprocess.run(["pactl", "list", "short", "sink-inputs"], capture_output=True,
                                  text=True).stdout.strip()
            stop(proc)
            decode_errors = 0
            if who == "velmora":
                with open(a.stderr_file, errors="replace") as f:
                    decode_errors = sum(1 for line in f if "error decoding" in line or "invalid" in line)
                os.unlink(a.stderr_file)
                if decode_errors:
                    say("velmora logged %d decoder error lines while playing" % decode_errors)
            res[who].append({"decode_errors": decode_errors, "cpu": cpu[proc.pid], "xvfb_cpu": cpu.get(xpid), "rss_mb": hwm / 1024.0,
                             "sound": bool(sink), "alive": alive, "moving": moving > 200,
                             "picture": picture})
            if moving <= 200:
                say("%s: the picture did not change during the measure (frozen?)" % who)
            time.sleep(0.5)
    out = {}
    for who in res:
        if res[who]:
            out[who] = {"cpu": median([r["cpu"] for r in res[who]]),
                        "xvfb_cpu": median([r["xvfb_cpu"] for r in res[who] if r["xvfb_cpu"] is not None]),
                        "rss_mb": max(r["rss_mb"] for r in res[who]),
                        "sound": all(r["sound"] for r in res[who]),
                        "moving": all(r["moving"] and r["alive"] for r in res[who]),
                        "decode_errors": sum(r["decode_errors"] for r in res[who]),
                        "picture": "%dx%d" % res[who][-1]["picture"] if res[who][-1]["picture"] else "?"}
    o, m = out.get("velmora"), out.get("mpv")
    if not o:
        say("CPU and memory: the player could not be measured (%s)" % "; ".join(notes))
        emit({"measure": "play_cpu_memory", "met": False, "error": "; ".join(notes)})
        return 0
    say("CPU while playing disc A title 1 at 1x, video window 611x412 under Xvfb (mpv --geometry=611x412), sound to a null sink (%s, picture %s), "
        "%d s after 1 s, median of %d: ours %.1f %% of a core (X server %.1f %%, picture %s, %d decoder error lines logged) vs mpv %s -> ratio %s (targets <= mpv: %s, <= 20 %%: %s)"
        % ("sound stream seen" if o["sound"] else "NO sound stream seen",
           "moving" if o["moving"] else "FROZEN or exited", a.seconds, len(res["velmora"]), o["cpu"],
           o["xvfb_cpu"] or 0, o["picture"], o["decode_errors"],
           ("%.1f %% (X server %.1f %%, picture %s)" % (m["cpu"], m["xvfb_cpu"] or 0, m["picture"])) if m else "skipped (mpv missing)",
           ratio(o["cpu"], m["cpu"]) if m else None, verdict(m is None or o["cpu"] <= m["cpu"]),
           verdict(o["cpu"] <= 20)))
    say("Peak resident memory (VmHWM) of the same runs: ours %.1f MB vs mpv %s -> ratio %s (targets <= mpv: %s, "
        "<= 150 MB: %s)" % (o["rss_mb"], ("%.1f MB" % m["rss_mb"]) if m else "skipped (mpv missing)",
                            ratio(o["rss_mb"], m["rss_mb"]) if m else None,
                            verdict(m is None or o["rss_mb"] <= m["rss_mb"]), verdict(o["rss_mb"] <= 150)))
    emit({"measure": "play_cpu", "seconds": a.seconds, "rounds": len(res["velmora"]), "cpu_percent": r1(o["cpu"]),
          "xvfb_cpu_percent": r1(o["xvfb_cpu"]), "sound_stream": o["sound"], "picture_moving": o["moving"],
          "picture_on_screen": o["picture"], "decoder_error_lines": o["decode_errors"], "reference_picture_on_screen": m["picture"] if m else None,
          "reference": "mpv --vo=x11 --geometry=611x412" if m else "mpv skipped",
          "reference_cpu_percent": r1(m["cpu"]) if m else None, "reference_xvfb_cpu_percent": r1(m["xvfb_cpu"]) if m else None,
          "ratio": ratio(o["cpu"], m["cpu"]) if m else None, "budget_percent": 20,
          "target": "<= mpv and <= 20 % of a core", "met": o["cpu"] <= 20 and (m is None or o["cpu"] <= m["cpu"])})
    emit({"measure": "play_peak_rss", "rss_mb": r1(o["rss_mb"]),
          "reference": "mpv --vo=x11 --geometry=611x412" if m else "mpv skipped",
          "reference_rss_mb": r1(m["rss_mb"]) if m else None, "ratio": ratio(o["rss_mb"], m["rss_mb"]) if m else None,
          "budget_mb": 150, "target": "<= mpv and <= 150 MB",
          "met": o["rss_mb"] <= 150 and (m is None or o["rss_mb"] <= m["rss_mb"])})
    return 0


# ---------------------------------------------------------------- 6. Full screen

def mpv_property(sock, name):
    """A property of a running mpv through its IPC socket (None when it does not answer)."""
    import socket
    try:
        c = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        c.settimeout(2)
        c.connect(sock)
        c.sendall((json.dumps({"command": ["get_property", name]}) + "\n").encode())
        data = b""
        while b"\n" not in data:
            chunk = c.recv(4096)
            if not chunk:
                break
            data += chunk
        c.close()
        for line in data.decode(errors="replace").splitlines():
            o = json.loads(line)
            if "error" in o and "event" not in o:
                return o.get("data") if o["error"] == "success" else None
    except (OSError, ValueError):
        return None
    return None


def velmora_stats(path):
    """The last "velmora-video:" counter line of a player's standard error, as a dict."""
    last = None
    try:
        with open(path, errors="replace") as f:
            for line in f:
                if line.startswith("velmora-video: output="):
                    last = line
    except OSError:
        return None
    if not last:
        return None
    out = {}
    for field in last.split()[1:]:
        k, _, v = field.partition("=")
        out[k] = v
    return out


def picture_bbox(img, floor=24):
    """Width and height of the box around everything brighter than black (the picture and its bars' edge)."""
    import numpy
    ys, xs = numpy.nonzero(img.max(axis=2) > floor)
    if len(xs) == 0:
        return None
    return int(xs.max() - xs.min() + 1), int(ys.max() - ys.min() + 1)


def cmd_fullscreen(a):
    """Disc B full screen on a screen of a.size: ours (Home after start) against
    mpv --fs --vo=x11, CPU of the player and of the X server, peak RSS,
    dropped pictures, A/V; rounds interleaved, medians."""
    display = os.environ["DISPLAY"]
    have_mpv = shutil.which("mpv") is not None
    xpid = int(a.xvfb_pid) if a.xvfb_pid else None
    disc = os.path.join(a.discs, "B")
    res = {"velmora": [], "mpv": []}
    for rnd in range(a.rounds):
        for who in ("velmora", "mpv"):
            if who == "mpv" and not have_mpv:
                continue
            errfile = tempfile.mktemp(prefix="velmora-bench-fs.", suffix=".log")
            sock = tempfile.mktemp(prefix="velmora-bench-mpv.", suffix=".sock")
            env = dict(os.environ)
            if who == "velmora":
                env["VELMORA_VIDEO_STATS"] = "1"
                if a.output:
                    env["VELMORA_VIDEO_OUTPUT"] = a.output
                cmd = [a.player, disc]
            else:
                cmd = ["mpv", "--no-config", "--really-quiet", "--fs", "--vo=x11", "--ao=pulse",
                       "--input-ipc-server=" + sock, "--dvd-device=" + disc, "dvd://" + str(a.mpv_title)]
            t0 = now()
            proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=open(errfile, "w"), env=env)
            err = None
            if wait_colour(display, DISC_COLOURS["B_c1"], 20000, t0, 15, proc) is None:
                err = "no disc B picture on screen"
            elif who == "velmora":
                # Home (a global shortcut, read every 500 ms) until the video
                # window covers the screen; twice at most.
                screen = tuple(int(v) for v in a.size.split("x"))
                wid, g = video_window(proc.pid)
                for _ in range(2):
                    xdo("key", "Home")
                    t1 = now()
                    while now() - t1 < 3:
                        g = window_geometry(wid) if wid else {}
                        if g.get("w", 0) >= screen[0] * 0.95 and g.get("h", 0) >= screen[1] * 0.95:
                            break
                        time.sleep(0.1)
                    else:
                        continue
                    break
                else:
                    err = "Home did not bring the video window to full screen"
            if not err:
                # Measured from 3 s after the start (or from full screen, when later), for a.seconds.
                time.sleep(max(0.0, 3.0 - (now() - t0)))
                before_stats = velmora_stats(errfile) if who == "velmora" else None
                before_drop = (mpv_property(sock, "frame-drop-count"), mpv_property(sock, "decoder-frame-drop-count"))
                pids = [proc.pid] + ([xpid] if xpid else [])
                try:
                    cpu = sample_cpu(pids, a.seconds)
                except (OSError, IndexError, ValueError):
                    cpu = None
                # The counters are read before the screenshot: grabbing a
                # whole 4K screen holds the X server for about a second, and
                # every player drops pictures meanwhile.
                after_stats = velmora_stats(errfile) if who == "velmora" else None
                after_drop = (mpv_property(sock, "frame-drop-count"), mpv_property(sock, "decoder-frame-drop-count")) \
                    if who == "mpv" else None
                shot = grab(display)
                picture = picture_bbox(shot)
                if os.environ.get("BENCH_SHOTS"):
                    from PIL import Image
                    Image.fromarray(shot).save(os.path.join(os.environ["BENCH_SHOTS"], "fs-%s-%s%s-%d.png" % (a.size, who, ("-" + a.output) if a.output and who == "velmora" else "", rnd)))
                hwm = vm_hwm_kb(proc.pid) if proc.poll() is None else None
                shmem = status_kb(proc.pid, "RssShmem") if proc.poll() is None else None
                row = {"cpu": cpu[proc.pid] if cpu else None, "xvfb_cpu": cpu.get(xpid) if cpu else None,
                       "rss_mb": hwm / 1024.0 if hwm else None, "picture": picture, "dropped": None, "sync": None,
                       "shmem_mb": shmem / 1024.0 if shmem is not None else None}
                if who == "velmora":
                    after = after_stats
                    if before_stats and after:
                        late = int(after["late_dropped"]) - int(before_stats["late_dropped"])
                        unpainted = int(after["not_painted"]) - int(before_stats["not_painted"])
                        row["dropped"] = late + unpainted
                        row["dropped_detail"] = "%d late, %d never painted" % (late, unpainted)
                        w0, m0 = (int(x) for x in before_stats["sync_within_20ms"].split("/"))
                        w1, m1 = (int(x) for x in after["sync_within_20ms"].split("/"))
                        row["sync"] = (w1 - w0) / (m1 - m0) if m1 > m0 else None
                        row["output"] = after.get("output")
                else:
                    if None not in before_drop and None not in after_drop:
                        row["dropped"] = (after_drop[0] - before_drop[0]) + (after_drop[1] - before_drop[1])
                if row["cpu"] is None or row["rss_mb"] is None:
                    err = "exited during the measure"
                else:
                    res[who].append(row)
            if err:
                say("full screen %s, %s: %s; skipped this round" % (a.size, who, err))
            stop(proc)
            for f in (errfile, sock):
                try:
                    os.unlink(f)
                except OSError:
                    pass
            time.sleep(0.5)
    summary = {}
    for who in res:
        rows = res[who]
        if rows:
            drops = [r["dropped"] for r in rows if r["dropped"] is not None]
            syncs = [r["sync"] for r in rows if r.get("sync") is not None]
            summary[who] = {"cpu": median([r["cpu"] for r in rows]),
                            "xvfb_cpu": median([r["xvfb_cpu"] for r in rows if r["xvfb_cpu"] is not None]),
                            "rss_mb": max(r["rss_mb"] for r in rows),
                            "dropped": max(drops) if drops else None,
                            "sync": min(syncs) if syncs else None,
                            "picture": "%dx%d" % rows[-1]["picture"] if rows[-1]["picture"] else "?",
                            "output": rows[-1].get("output"),
                            "shmem_mb": max((r["shmem_mb"] for r in rows if r.get("shmem_mb") is not None), default=None),
                            "detail": "; ".join(r["dropped_detail"] for r in rows if r.get("dropped_detail")) or None}
    o, m = summary.get("velmora"), summary.get("mpv")
    label = "full_screen_%s%s" % (a.size, ("_" + a.output) if a.output else "")
    if not o:
        emit({"measure": label, "met": False, "error": "the player could not be measured"})
        return 0
    cpu_ok = m is None or o["cpu"] <= m["cpu"]
    rss_ok = o["rss_mb"] <= a.rss_budget
    drop_ok = o["dropped"] == 0
    sync_ok = o["sync"] is None or o["sync"] >= 0.95
    honest = " (OpenGL on llvmpipe: the graphics work is done by the processor here)" if o["output"] == "opengl" else ""
    say("Full screen %s, disc B, %s output%s, %.0f s after 3 s, median of %d rounds interleaved with mpv: ours %.1f %% of a "
        "core (X server %.1f %%), peak RSS %.1f MB (shared memory %s MB), dropped pictures %s (%s), A/V within 20 ms %s, picture %s vs "
        "mpv --fs --vo=x11 %s -> CPU ratio %s (CPU <= mpv: %s; RSS <= %d MB: %s; no drops: %s)"
        % (a.size, o["output"] or "?", honest, a.seconds, len(res["velmora"]), o["cpu"], o["xvfb_cpu"] or 0,
           o["rss_mb"], "%.1f" % o["shmem_mb"] if o["shmem_mb"] is not None else "?", o["dropped"], o["detail"] or "-", ("%.1f %%" % (o["sync"] * 100)) if o["sync"] is not None else "n/a",
           o["picture"],
           ("%.1f %% (X server %.1f %%), peak RSS %.1f MB, dropped %s, picture %s" % (
               m["cpu"], m["xvfb_cpu"] or 0, m["rss_mb"], m["dropped"], m["picture"])) if m else "skipped (mpv missing)",
           ratio(o["cpu"], m["cpu"]) if m else None, verdict(cpu_ok), a.rss_budget, verdict(rss_ok), verdict(drop_ok))
        + "; load average %.1f" % os.getloadavg()[0])
    emit({"measure": label, "screen": a.size, "output": o["output"], "seconds": a.seconds, "rounds": len(res["velmora"]),
          "cpu_percent": r1(o["cpu"]), "xvfb_cpu_percent": r1(o["xvfb_cpu"]), "peak_rss_mb": r1(o["rss_mb"]),
          "shared_memory_rss_mb": r1(o["shmem_mb"]) if o["shmem_mb"] is not None else None,
          "load_average": os.getloadavg()[0],
          "dropped_pictures": o["dropped"], "av_within_20ms": round(o["sync"], 4) if o["sync"] is not None else None,
          "picture_on_screen": o["picture"],
          "reference": "mpv --fs --vo=x11" if m else "mpv skipped",
          "reference_cpu_percent": r1(m["cpu"]) if m else None, "reference_xvfb_cpu_percent": r1(m["xvfb_cpu"]) if m else None,
          "reference_peak_rss_mb": r1(m["rss_mb"]) if m else None, "reference_dropped": m["dropped"] if m else None,
          "ratio": ratio(o["cpu"], m["cpu"]) if m else None,
          "target": "CPU <= mpv, peak RSS <= %d MB, no dropped pictures" % a.rss_budget,
          "met": (cpu_ok and rss_ok and drop_ok and sync_ok) if o["output"] != "opengl" else None,
          "note": "OpenGL on llvmpipe: printed for information, no target" if o["output"] == "opengl" else None})
    return 0


# ---------------------------------------------------------------- main

def main():
    ap = argparse.ArgumentParser(prog="velbench.py")
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("decode")
    p.add_argument("--probe", required=True)
    p.add_argument("--disc", required=True)
    p.add_argument("--title", type=int, default=1)
    p.add_argument("--runs", type=int, default=3)
    p = sub.add_parser("seek")
    p.add_argument("--probe", required=True)
    p.add_argument("--disc", required=True)
    p.add_argument("--runs", type=int, default=50)
    p.add_argument("--chapter-runs", type=int, default=15)
    p.add_argument("--seed", type=int, default=20261208)
    p = sub.add_parser("probe-start")
    p.add_argument("--probe", required=True)
    p.add_argument("--disc", required=True)
    p.add_argument("--runs", type=int, default=9)
    p.add_argument("--mpv-title", type=int, default=0)
    for name in ("player-start", "cpu-mem"):
        p = sub.add_parser(name)
        p.add_argument("--player", required=True)
        p.add_argument("--discs", required=True)
        p.add_argument("--mpv-title", type=int, default=0)
        p.add_argument("--runs", type=int, default=5)
        p.add_argument("--rounds", type=int, default=2)
        p.add_argument("--seconds", type=float, default=15)
        p.add_argument("--xvfb-pid")
        p.set_defaults(stderr_file=None)
    p = sub.add_parser("fullscreen")
    p.add_argument("--player", required=True)
    p.add_argument("--discs", required=True)
    p.add_argument("--size", required=True)
    p.add_argument("--mpv-title", type=int, default=0)
    p.add_argument("--rounds", type=int, default=2)
    p.add_argument("--seconds", type=float, default=12)
    p.add_argument("--rss-budget", type=int, default=110)
    p.add_argument("--output", default="")
    p.add_argument("--xvfb-pid")
    a = ap.parse_args()
    return {"decode": cmd_decode, "seek": cmd_seek, "probe-start": cmd_probe_start, "player-start": cmd_player_start,
            "cpu-mem": cmd_cpu_mem, "fullscreen": cmd_fullscreen}[a.cmd](a)


if __name__ == "__main__":
    sys.exit(main())
