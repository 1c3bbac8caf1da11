#!/usr/bin/env python3
"""AVI output beside ffmpeg on the same input: wall-clock and CPU time and output size of
kestrine-cli against the ffmpeg command with the same codecs at their defaults.

Makes a 640x480 WMV2 + WMA2 clip (45 s unless told otherwise), then
  1. x264 + MP3 and VP8 + MP3 at 320x240 and 720x576 (the speed targets), and
  2. every video encoder kestrine-cli offers for AVI, with MP3, at 320x240,
each side run one after the other, so both see the same machine load. Prints Markdown tables.
With --only matched, the target cases also run ffmpeg with the settings GStreamer's elements
default to (x264enc: 2048 kb/s single-pass CBR with its VBV; vp8enc: cpu-used 0, one thread per
core but one) and MP3 at kestrine's initial 320 kb/s, which separates the cost of the pipeline
from the two programs' different codec defaults.
Usage: bench/avi_encoders_bench.py [--build build] [--seconds 45] [--runs 1]
                                   [--only targets,matched,all] [--sizes 320x240,720x576]
                                   [--codecs libx264,libvpx]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# kestrine's encoder factory -> ffmpeg's encoder of the same codec library, where there is one.
FFMPEG_EQUIVALENT = {
    "x264enc": ["-c:v", "libx264"],
    "vp8enc": ["-c:v", "libvpx"],
    "openh264enc": ["-c:v", "libopenh264"],
    "openjpegenc": ["-c:v", "libopenjpeg"],
    "mpeg2enc": ["-c:v", "mpeg2video"],  # another library (mjpegtools against libavcodec)
    "avenc_mpeg4": ["-c:v", "mpeg4"],
    "avenc_msmpeg4": ["-c:v", "msmpeg4"],
    "avenc_msmpeg4v2": ["-c:v", "msmpeg4v2"],
    "avenc_h263p": ["-c:v", "h263p"],
    "avenc_huffyuv": ["-c:v", "huffyuv"],
    "avenc_png": ["-c:v", "png"],
    "avenc_wmv1": ["-c:v", "wmv1"],
    "avenc_wmv2": ["-c:v", "wmv2"],
}


def timed(cmd, env=None):
    """Runs cmd; returns (wall s, CPU s of the process and its children, ok)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    ok = os.waitstatus_to_exitcode(status) == 0
    if not ok:
        sys.stderr.write("failed: %s\n%s\n" % (" ".join(cmd), err[-1500:]))
    return wall, usage.ru_utime + usage.ru_stime, ok


def offered_video_encoders(cli, env):
    """(long name, factory name) of every AVI video encoder kestrine-cli lists."""
    text = subprocess.run([cli, "--list-encoders"], stdout=subprocess.PIPE, text=True, env=env).stdout
    names = []
    section = False
    for line in text.splitlines():
        if line.startswith("Video encoders"):
            section = True
            continue
        if section and not line.startswith("  "):
            break
        if section and line.strip() != "_Uncompressed_":
            names.append(line.strip())
    # Long name -> factory, from gst-inspect for the factories this bench knows.
    factories = {}
    for factory in FFMPEG_EQUIVALENT:
        info = subprocess.run(["gst-inspect-1.0", factory], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True).stdout
        for line in info.splitlines():
            if line.strip().startswith("Long-name"):
                factories[line.split("Long-name", 1)[1].strip()] = factory
    return [(n, factories.get(n, "?")) for n in names]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=int, default=45)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--only", default="targets,all")
    parser.add_argument("--sizes", default="320x240,720x576")
    parser.add_argument("--codecs", default="libx264,libvpx")
    args = parser.parse_args()
    sizes = [tuple(int(v) for v in size.split("x")) for size in args.sizes.split(",")]
    codecs = args.codecs.split(",")
    cli = os.path.join(args.build, "bin", "kestrine-cli")
    only = args.only.split(",")

    work = tempfile.mkdtemp(prefix="kestrine-avi-bench-")
    # A private registry: another build's plugin folder must not make the runs rescan plugins.
    env = dict(os.environ, KESTRINE_CACHE_DIR=os.path.join(work, "cache"), XDG_CONFIG_HOME=os.path.join(work, "config"),
               GST_REGISTRY=os.path.join(work, "registry.bin"))
    src = os.path.join(work, "clip.wmv")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=640x480:rate=25:duration=%d" % args.seconds, "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=44100:duration=%d" % args.seconds, "-ac", "2",
                    "-c:v", "wmv2", "-b:v", "1500k", "-c:a", "wmav2", "-b:a", "128k", src], check=True)
    subprocess.run([cli, "--list-encoders"], stdout=subprocess.DEVNULL, env=env, check=True)  # trials, once

    def ours(long_name, width, height):
        """One kestrine-cli run: (wall s, CPU s, ok, output bytes)."""
        out = os.path.join(work, "k")
        os.makedirs(out, exist_ok=True)
        dest = os.path.join(out, "clip_converted.avi")
        if os.path.exists(dest):
            os.remove(dest)
        r = timed([cli, "--format", "avi", "--out", out, "--width", str(width), "--height", str(height),
                   "--fps", "25", "--video-encoder", long_name, "--audio-encoder", "L.A.M.E. mp3 encoder",
                   src], env)
        return r + (os.path.getsize(dest) if os.path.exists(dest) else 0,)

    def theirs(codec, width, height, audio=()):
        """One ffmpeg run: (wall s, CPU s, ok, output bytes)."""
        dest = os.path.join(work, "f.avi")
        if os.path.exists(dest):
            os.remove(dest)
        r = timed(["ffmpeg", "-v", "error", "-y", "-i", src] + codec +
                  ["-s", "%dx%d" % (width, height), "-r", "25", "-c:a", "libmp3lame"] + list(audio) + [dest])
        return r + (os.path.getsize(dest) if os.path.exists(dest) else 0,)

    def alternate(sides):
        """Runs every side once per round, round after round, so that all sides see the same
        changes of machine load; gives each side's (median wall, median CPU, all ok, bytes)."""
        results = [[] for _ in sides]
        for _ in range(args.runs):
            for i, side in enumerate(sides):
                results[i].append(side())
        return [(statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs),
                 all(r[2] for r in rs), rs[-1][3]) for rs in results]

    print("Input: %d-s 640x480 WMV2 + WMA2, %d alternating run(s) of each side, medians; CPU = user + system; "
          "load average at the start %.1f.\n" % (args.seconds, args.runs, os.getloadavg()[0]))
    vp8_threads = str(max(1, (os.cpu_count() or 1) - 1))
    cases = (("x264 H.264 Encoder", ["-c:v", "libx264"],
              ["-c:v", "libx264", "-b:v", "2048k", "-maxrate", "2048k", "-bufsize", "1228k"]),
             ("On2 VP8 Encoder", ["-c:v", "libvpx"], ["-c:v", "libvpx", "-cpu-used", "0", "-threads", vp8_threads]))
    if "targets" in only or "matched" in only:
        print("| case | kestrine wall s | kestrine CPU s | size kB | ffmpeg | wall s | CPU s | size kB |"
              " wall ratio | CPU ratio |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        for long_name, codec, matched in cases:
            if codec[1] not in codecs:
                continue
            for width, height in sizes:
                labels = [label for label in ("targets", "matched") if label in only]
                sides = [lambda: ours(long_name, width, height)]
                for label in labels:
                    if label == "targets":
                        sides.append(lambda: theirs(codec, width, height))
                    else:
                        sides.append(lambda: theirs(matched, width, height, ("-b:a", "320k")))
                k, *rest = alternate(sides)
                names = {"targets": "defaults", "matched": "GStreamer's settings"}
                for label, f in zip((names[l] for l in labels), rest):
                    print("| %s + MP3 %dx%d | %.1f%s | %.1f | %d | %s | %.1f | %.1f | %d | %.2f | %.2f |" % (
                        codec[1], width, height, k[0], "" if k[2] else " (failed)", k[1], k[3] // 1024, label,
                        f[0], f[1], f[3] // 1024, k[0] / f[0], k[1] / f[1]))
                sys.stdout.flush()
        print()
    if "all" in only:
        print("| encoder | factory | kestrine wall s | CPU s | size kB | ffmpeg | wall s | CPU s | size kB | wall ratio |"
              " CPU ratio |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for long_name, factory in offered_video_encoders(cli, env):
            codec = FFMPEG_EQUIVALENT.get(factory)
            if codec:
                k, f = alternate([lambda: ours(long_name, 320, 240), lambda: theirs(codec, 320, 240)])
                if not f[2]:
                    print("| %s | %s | %.1f | %.1f | %d | %s: not in this ffmpeg | | | | | |" % (
                        long_name, factory, k[0], k[1], k[3] // 1024, codec[1]))
                    continue
                print("| %s | %s | %.1f%s | %.1f | %d | %s | %.1f | %.1f | %d | %.2f | %.2f |" % (
                    long_name, factory, k[0], "" if k[2] else " (failed)", k[1], k[3] // 1024, codec[1], f[0], f[1],
                    f[3] // 1024, k[0] / f[0], k[1] / f[1]))
            else:
                k, = alternate([lambda: ours(long_name, 320, 240)])
                print("| %s | %s | %.1f | %.1f | %d | – | | | | | |" % (long_name, factory, k[0], k[1], k[3] // 1024))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
