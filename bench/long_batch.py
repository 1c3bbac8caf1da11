#!/usr/bin/env python3
"""Long batch: converts one short clip under N names (200 by default) in a single kestrine-cli
batch and samples the process after every clip from /proc/<pid>: resident memory (VmRSS),
open file descriptors and threads. Resident memory after the last clip must stay within 30 MB
of clip 20, and descriptors and threads must not grow.

With --leaks the run uses GStreamer's leaks tracer: a checkpoint after clip --leak-from and one
after clip --leak-to; the objects created in between and still alive at the second checkpoint
are counted per type. A type whose count grows with the clips (at least half the clips in
between) is a per-clip leak.

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
            env.update(GST_TRACERS="leaks", GST_LEAKS_TRACER_SIG="1", GST_DEBUG="GST_TRACER:7",
                       GST_DEBUG_NO_COLOR="1")
            stderr = open(leak_log, "w")
        started = time.monotonic()
        proc = subprocess.Popen([args.cli] + FORMATS[args.format] + ["--out", out, "--"] + files,
                                stdout=subprocess.PIPE, stderr=stderr, env=env, text=True)
        samples = {}
        leak_offset = None
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
            if args.leaks and done == args.leak_from:
                proc.send_signal(signal.SIGUSR2)
            if args.leaks and done == args.leak_to:
                # The first checkpoint's list has been written long since; what follows is the
                # second one's.
                stderr.flush()
                leak_offset = os.path.getsize(leak_log)
                proc.send_signal(signal.SIGUSR2)
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
            later = [samples[n] for n in samples if n >= 20]
            growth = (samples[args.clips]["VmRSS"] - samples[20]["VmRSS"]) / 1024
            fd_span = max(s["fds"] for s in later) - min(s["fds"] for s in later)
            thread_span = max(s["Threads"] for s in later) - min(s["Threads"] for s in later)
            print(f"RSS growth clip 20 -> {args.clips}: {growth:+.1f} MB (limit 30); "
                  f"fd range after clip 20: {fd_span}; thread range after clip 20: {thread_span}")
            ok = ok and growth <= 30 and fd_span <= 2 and thread_span <= 2
        if args.leaks:
            stderr.close()
            between = args.leak_to - args.leak_from
            alive = collections.Counter()
            with open(leak_log, errors="replace") as f:
                f.seek(leak_offset or 0)
                lines = f.read().splitlines() if leak_offset is not None else []
            for line in lines:
                m = re.search(r"object-added.*type-name=\(string\)([\w:]+)", line)
                if m:
                    alive[m.group(1)] += 1
            growing = {t: n for t, n in alive.items() if n >= max(1, between // 2)}
            print(f"leaks tracer, objects created after clip {args.leak_from} and alive after clip "
                  f"{args.leak_to}: {sum(alive.values())} in {len(alive)} types")
            for t, n in sorted(alive.items(), key=lambda kv: -kv[1])[:15]:
                print(f"  {n:5d} {t}{'  <- grows with the clips' if t in growing else ''}")
            ok = ok and not growing
        print("PASS" if ok else "FAIL")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
