#!/usr/bin/env python3
"""Long batch: converts one short clip under N names (200 by default) in a single kestrine-cli
batch and samples the process after every clip from /proc/<pid>: resident memory (VmRSS),
open file descriptors and threads. Resident memory after the last clip must stay within 30 MB
of clip 20, and descriptors and threads must not grow. The next clip starts as soon as one is
reported, so a sample may catch its pipeline starting up (files being opened, streaming threads
being made): growth is measured on the quiet floor, the least count over the 20 clips after clip
20 against the least count over the last 20 clips.

With --leaks the run uses GStreamer's leaks tracer: the live objects are listed after clip
--leak-from, halfway and after clip --leak-to (SIGUSR1; the tracer answers on a thread of its
own) and counted per type. A type whose count grows in both halves by at least half the clips
of each is a per-clip leak; the clip that is starting when a listing is taken adds its own
objects to that listing only. (The tracer's SIGUSR2 checkpoints list every object created since
the last one, freed or not, so they cannot tell a leak from ordinary traffic.)

  bench/long_batch.py --cli build/bin/kestrine-cli [--clips 200] [--format avi|wav|mpeg]
"""

import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

FORMATS = {
    "avi": ["--format", "avi", "--video-encoder", "_Uncompressed_", "--audio-encoder", "_Uncompressed_",
            "--width", "160", "--height", "120", "--fps", "10"],
    "mpeg": ["--format", "mpeg", "--mpeg-type", "VCD", "--standard", "PAL"],
    "wav": ["--format", "wav", "--audio-encoder", "_Uncompressed_"],
}


# What the media framework keeps per clip by itself, outside the project's objects: the editing
# services (1.22) cache every source file's discovered facts for the life of the process (its
# tags and formats: the generated clip is MJPEG 176x144 with 22.05 kHz PCM) and do not release the
# stream object of each track of a finished timeline. Returns the reason, or None.
def framework_cache(kind, description):
    if kind == "GstStream" and "(ANY)]" in description:
        return "editing services: stream of a finished timeline's track"
    if kind == "GstCaps" and description.startswith(("video/x-raw(ANY)", "audio/x-raw(ANY)")):
        return "editing services: caps of those streams"
    if kind == "GstTagList" and ("container-format" in description or "-codec=" in description):
        return "editing services: asset cache, source file's tags"
    if kind == "GstCaps" and ("width=(int)176" in description or "rate=(int)22050" in description):
        return "editing services: asset cache, source file's formats"
    return None


def sample(pid):
    facts = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "Threads"):
                facts[key] = int(value.split()[0])
    facts["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    return facts


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--clips", type=int, default=200)
    parser.add_argument("--format", default="avi", choices=sorted(FORMATS))
    parser.add_argument("--seconds", type=float, default=0.5)
    parser.add_argument("--leaks", action="store_true")
    parser.add_argument("--leak-from", type=int, default=5)
    parser.add_argument("--leak-to", type=int, default=25)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kestrine-long-batch-")
    try:
        clean = os.path.join(work, "clip.avi")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=15",
                        "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=22050", "-t", str(args.seconds),
                        "-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le", "-ac", "1", clean],
                       check=True, timeout=120)
        src = os.path.join(work, "in")
        out = os.path.join(work, "out")
        os.makedirs(src)
        os.makedirs(out)
        files = []
        for i in range(args.clips):
            path = os.path.join(src, f"clip{i + 1:04d}.avi")
            shutil.copyfile(clean, path)
            files.append(path)

        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
        stderr = subprocess.DEVNULL
        leak_log = os.path.join(work, "leaks.log")
        if args.leaks:
            # leaks:7 adds the lines that open and close each listing.
            env.update(GST_TRACERS="leaks", GST_LEAKS_TRACER_SIG="1", GST_DEBUG="GST_TRACER:7,leaks:7",
                       GST_DEBUG_NO_COLOR="1")
            stderr = open(leak_log, "w")
        started = time.monotonic()
        proc = subprocess.Popen([args.cli] + FORMATS[args.format] + ["--out", out, "--"] + files,
                                stdout=subprocess.PIPE, stderr=stderr, env=env, text=True)
        samples = {}
        leak_marks = (args.leak_from, (args.leak_from + args.leak_to) // 2, args.leak_to)
        done = 0
        statuses = collections.Counter()
        for line in proc.stdout:
            m = re.match(r"clip(\d{4})\.avi: (.*)$", line.strip())
            if not m:
                continue
            done += 1
            statuses[m.group(2).split(" - ")[0]] += 1
            try:
                samples[done] = sample(proc.pid)
            except FileNotFoundError:
                break
            if args.leaks and done in leak_marks:
                proc.send_signal(signal.SIGUSR1)
        code = proc.wait()
        elapsed = time.monotonic() - started

        print(f"{args.clips} clips to {args.format} in {elapsed:.0f} s, exit {code}, "
              + ", ".join(f"{k} {v}" for k, v in statuses.items()))
        print(" clip   RSS MB  fds  threads")
        marks = sorted({1, 10, 20, 50, 100, 150, args.clips} & set(samples))
        for n in marks:
            s = samples[n]
            print(f"{n:5d} {s['VmRSS'] / 1024:8.1f} {s['fds']:4d} {s['Threads']:8d}")
        ok = code == 0 and statuses.get("Complete", 0) == args.clips
        if 20 in samples and args.clips in samples:
            growth = (samples[args.clips]["VmRSS"] - samples[20]["VmRSS"]) / 1024
            early = [samples[n] for n in range(20, min(40, args.clips + 1)) if n in samples]
            late = [samples[n] for n in range(max(20, args.clips - 19), args.clips + 1) if n in samples]

            def floor_growth(key):
                return min(s[key] for s in late) - min(s[key] for s in early)

            def span(key):
                values = [samples[n][key] for n in samples if n >= 20]
                return f"{min(values)}-{max(values)}"

            fd_growth, thread_growth = floor_growth("fds"), floor_growth("Threads")
            print(f"RSS growth clip 20 -> {args.clips}: {growth:+.1f} MB (limit 30); "
                  f"fds {span('fds')}, floor growth {fd_growth:+d}; "
                  f"threads {span('Threads')}, floor growth {thread_growth:+d}")
            ok = ok and growth <= 30 and fd_growth <= 0 and thread_growth <= 1
        if args.leaks:
            stderr.close()
            listings = []
            with open(leak_log, errors="replace") as f:
                for line in f:
                    if "start listing currently alive objects" in line:
                        listings.append(collections.Counter())
                        continue
                    m = re.search(r"object-alive, type-name=\(string\)([\w:]+), address=\(gpointer\)\w+, "
                                  r"description=\(string\)(.*?), ref-count=", line)
                    if m and listings:
                        listings[-1][(m.group(1), framework_cache(m.group(1), m.group(2)))] += 1
            if len(listings) < 3:
                print("leaks tracer: the three listings of live objects were not found")
                listings = [collections.Counter()] * 3
            first, middle, last = listings[:3]
            more = {k: last[k] - first[k] for k in last if last[k] > first[k]}
            print(f"leaks tracer, live objects after clips {', '.join(map(str, leak_marks))}: "
                  f"{', '.join(str(sum(c.values())) for c in (first, middle, last))}")
            growing = False
            for key, n in sorted(more.items(), key=lambda kv: -kv[1])[:20]:
                kind, cache = key
                grows = all(after[key] - before[key] >= max(1, (b - a) // 2)
                            for (before, a), (after, b) in (((first, leak_marks[0]), (middle, leak_marks[1])),
                                                            ((middle, leak_marks[1]), (last, leak_marks[2]))))
                growing = growing or (grows and not cache)
                note = f"  ({cache})" if cache else "  <- grows with the clips" if grows else ""
                print(f"  {n:+5d} {kind}{note}")
            if not more:
                print("  no type has more live objects")
            ok = ok and not growing
        print("PASS" if ok else "FAIL")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
