#!/usr/bin/env python3
"""Damaged-file campaign: damages real-shaped media files with fixed seeds and converts every
damaged file with kestrine-cli, one conversion per process under a time limit, then writes a
table of what happened per output format and per kind of damage.

Inputs: the files of a field corpus folder (--corpus, default /work/corpus; files longer than
--max-seconds are left out so the run stays within hours) and the short generated clips of the
damaged-input corpus script (tests/reliability/damaged-corpus), whose clip makers and output
checks this script reuses.

Damage kinds (each with its own fixed seed per file): bit flips at 0.01 %, 0.1 % and 1 % of the
bits, a zeroed range, truncation, a repeated chunk, two swapped chunks, a randomised header and
appended garbage.

Every damaged file goes through --per-file output formats (rotating over DVD, VCD, AVI, WAV and
MP3 so that every format meets every damage kind; 0 = all). Outcome classes per conversion:

  complete           "Complete", readable output, no warning
  complete-warned    "Complete" with a warning on stderr
  error-reason       "Error" with a specific reason
  error-vague        "Error" whose reason says nothing about the file ("Unspecified error",
                     "Internal data stream error", a missing plug-in that is not missing, ...)
  rejected-reason    refused at the probe with a reason ("rejected-vague" likewise)
  crash              ended by a signal
  hang               killed at the time limit
  leftover           a file left in the output folder that should not be there
  unreadable         a "Complete" output that ffprobe cannot read or decode
  source-changed     the damaged input differs afterwards

Peak memory is the process's maximum resident set (wait4's rusage) for its one conversion.

  bench/damaged_campaign.py --cli build/bin/kestrine-cli [--files 400] [--per-file 1]
                            [--report out.json] [--table out.md]
"""

import argparse
import collections
import hashlib
import importlib.machinery
import importlib.util
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS_SCRIPT = os.path.join(HERE, "..", "tests", "reliability", "damaged-corpus")


def load_corpus_script():
    loader = importlib.machinery.SourceFileLoader("damaged_corpus", CORPUS_SCRIPT)
    spec = importlib.util.spec_from_loader("damaged_corpus", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


dc = load_corpus_script()

FORMATS = {
    "dvd": ["--format", "mpeg", "--mpeg-type", "DVD", "--standard", "PAL"],
    "vcd": ["--format", "mpeg", "--mpeg-type", "VCD", "--standard", "PAL"],
    "avi": dc.FORMATS["avi"],
    "wav": dc.FORMATS["wav"],
    "mp3": dc.FORMATS["mp3"],
}
VIDEO_FORMATS = ["dvd", "vcd", "avi"]
AUDIO_FORMATS = ["wav", "mp3"]

# The framework's texts that tell the user nothing about what is wrong with the file.
GENERIC = re.compile(r"Unspecified error( \(0x[0-9a-fA-F]+\))?|Internal data stream error\.?|"
                     r"GStreamer encountered a general stream error\.?|"
                     r"Your GStreamer installation is missing a plug-in\.?")
FRAME = re.compile(r"kestrine-cli: |rejected \S+: |Error: |File: \S+")


def vague(reason):
    """True when a reason says nothing beyond the framework's generic texts."""
    rest = GENERIC.sub("", FRAME.sub("", reason))
    return len(re.findall(r"[A-Za-z]{3,}", rest)) < 3

MUTATORS = ["flip-0.01pct", "flip-0.1pct", "flip-1pct", "zero-range", "truncate", "repeat-chunk",
            "swap-chunks", "random-header", "append-garbage"]


def mutate(data, kind, rng):
    n = len(data)
    b = bytearray(data)
    if kind.startswith("flip-"):
        pct = float(kind[5:-3])
        for _ in range(max(1, int(n * 8 * pct / 100))):
            at = rng.randrange(n)
            b[at] ^= 1 << rng.randrange(8)
        return bytes(b)
    chunk = max(16, min(n // 8, rng.randint(512, 65536)))
    if kind == "zero-range":
        at = rng.randrange(max(1, n - chunk))
        b[at:at + chunk] = bytes(len(b[at:at + chunk]))
        return bytes(b)
    if kind == "truncate":
        return data[:rng.randint(n // 20, n - 1)]
    if kind == "repeat-chunk":
        at = rng.randrange(max(1, n - chunk))
        return data[:at + chunk] + data[at:at + chunk] * rng.randint(1, 4) + data[at + chunk:]
    if kind == "swap-chunks":
        a = rng.randrange(max(1, n // 2 - chunk))
        c = rng.randrange(n // 2, max(n // 2 + 1, n - chunk))
        return data[:a] + data[c:c + chunk] + data[a + chunk:c] + data[a:a + chunk] + data[c + chunk:]
    if kind == "random-header":
        size = min(n, rng.choice([16, 64, 256, 1024]))
        # The first 4 bytes (the magic) stay, so the file is still taken for its kind.
        b[4:size] = bytes(rng.randrange(256) for _ in range(max(0, size - 4)))
        return bytes(b)
    if kind == "append-garbage":
        return data + bytes(rng.randrange(256) for _ in range(rng.randint(1, 262144)))
    raise ValueError(kind)


def has_video(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                          "stream=codec_name", "-of", "csv=p=0", path], capture_output=True, text=True)
    return bool(out.stdout.strip())


def media_seconds(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                          "default=nw=1:nk=1", path], capture_output=True, text=True)
    try:
        return float(out.stdout.strip())
    except ValueError:
        return None


def sources(work, corpus, max_seconds):
    """(name, path, has video) of every clean input."""
    found = []
    if corpus and os.path.isdir(corpus):
        for name in sorted(os.listdir(corpus)):
            path = os.path.join(corpus, name)
            if not os.path.isfile(path) or os.path.getsize(path) == 0:
                continue
            seconds = media_seconds(path)
            if seconds is not None and seconds > max_seconds:
                continue
            found.append((name, path, has_video(path)))
    clean = os.path.join(work, "clean")
    os.makedirs(clean, exist_ok=True)
    for name, ext, options, video, audio in dc.SOURCES:
        path = dc.make_source(clean, name, ext, options, video, audio)
        found.append((f"{name}.{ext}", path, video is not None))
    return found


def make_files(work, inputs, count, seed):
    folder = os.path.join(work, "damaged")
    os.makedirs(folder, exist_ok=True)
    files = []
    for round_ in range(1 + count // max(1, len(inputs) * len(MUTATORS))):
        for i, (name, path, video) in enumerate(inputs):
            data = open(path, "rb").read()
            for kind in MUTATORS:
                if len(files) >= count:
                    return files
                rng = random.Random(f"{seed}/{round_}/{name}/{kind}")
                base, ext = os.path.splitext(name)
                target = os.path.join(folder, f"{base}-{kind}-r{round_}{ext}")
                with open(target, "wb") as f:
                    f.write(mutate(data, kind, rng))
                files.append({"path": target, "source": name, "kind": kind, "video": video,
                              "index": len(files)})
    return files


def ordered(files, seed):
    """The files in a fixed shuffled order, so that any first part of a run is a fair sample."""
    files = list(files)
    random.Random(seed).shuffle(files)
    return files


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def formats_for(entry, per_file):
    pool = VIDEO_FORMATS + AUDIO_FORMATS if entry["video"] else AUDIO_FORMATS
    if per_file <= 0:
        return pool
    start = entry["index"] % len(pool)
    return [pool[(start + k) % len(pool)] for k in range(min(per_file, len(pool)))]


def run_one(cli, options, path, out_dir, env, limit):
    """(exit code, signal, output, peak KiB, seconds, hung) of one kestrine-cli run."""
    args = [cli] + options + ["--out", out_dir, "--", path]
    started = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                            start_new_session=True)
    chunks = []
    hung = False
    os.set_blocking(proc.stdout.fileno(), False)
    while True:
        try:
            piece = proc.stdout.read()
        except BlockingIOError:
            piece = None
        if piece:
            chunks.append(piece)
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() - started > limit:
            hung = True
            os.killpg(proc.pid, signal.SIGKILL)
            pid, status, usage = os.wait4(proc.pid, 0)
            break
        time.sleep(0.05)
    proc.returncode = 0
    try:
        rest = proc.stdout.read()
        if rest:
            chunks.append(rest)
    except BlockingIOError:
        pass
    proc.stdout.close()
    code = os.waitstatus_to_exitcode(status)
    output = b"".join(chunks).decode("utf-8", "replace")
    return (code if code >= 0 else None, -code if code < 0 and not hung else None, output,
            usage.ru_maxrss, time.monotonic() - started, hung)


def classify(entry, fmt, cli, env, work, limit):
    out_dir = tempfile.mkdtemp(prefix=f"out-{fmt}-", dir=work)
    digest = entry["sha256"]
    code, sig, output, peak, seconds, hung = run_one(cli, entry["options"][fmt], entry["path"], out_dir,
                                                     env, limit)
    name = os.path.basename(entry["path"])
    status, reasons = dc.parse_batch(output, [name])
    st = status.get(name)
    reasons = reasons.get(name, [])
    # kestrine-cli's own stderr lines for the clip, beside the log lines.
    reasons += [l.strip() for l in output.splitlines() if l.startswith("kestrine-cli: ") and l.strip() not in reasons]
    classes = []
    if hung:
        classes.append("hang")
    elif sig is not None:
        classes.append("crash")
    elif st == "Complete":
        warned = any("arning" in r for r in reasons)
        classes.append("complete-warned" if warned else "complete")
    elif st == "Rejected":
        why = [r for r in reasons if "rejected" in r]
        classes.append("rejected-vague" if not why or all(vague(r) for r in why) else "rejected-reason")
    elif st == "Error":
        errs = [r for r in reasons if "rror" in r]
        classes.append("error-vague" if not errs or all(vague(r) for r in errs) else "error-reason")
    else:
        classes.append("no-status")
    outputs = sorted(os.listdir(out_dir))
    finals = [o for o in outputs if not o.startswith(".")]
    temps = [o for o in outputs if o.startswith(".")]
    if temps or (finals and (st != "Complete" or len(finals) != 1)):
        classes.append("leftover")
    if st == "Complete" and len(finals) == 1:
        ok, why, _ = dc.check_output_file(os.path.join(out_dir, finals[0]))
        if not ok:
            classes.append("unreadable")
    if sha256(entry["path"]) != digest:
        classes.append("source-changed")
    noise = [l for l in output.splitlines()
             if l.strip() and not l.startswith(("kestrine-cli", name, "Converting file: ", " \u2022"))]
    if noise:
        classes.append("noisy")
    shutil.rmtree(out_dir, ignore_errors=True)
    errors = [r for r in reasons if "rror" in r or "rejected" in r]
    return {"file": name, "source": entry["source"], "kind": entry["kind"], "format": fmt,
            "status": st, "classes": classes, "reason": errors[0] if errors else "",
            "peak_kib": peak, "seconds": round(seconds, 2), "exit": code, "noise": noise[:5]}


CLASSES = ["complete", "complete-warned", "error-reason", "error-vague", "rejected-reason", "rejected-vague",
           "crash", "hang", "no-status", "leftover", "unreadable", "source-changed", "noisy"]


def table(results):
    lines = []
    header = "| format | runs | " + " | ".join(CLASSES) + " | peak MiB (max) | peak MiB (median) |"
    lines.append(header)
    lines.append("|" + "---|" * (len(CLASSES) + 4))
    groups = collections.OrderedDict()
    for fmt in FORMATS:
        groups[fmt] = [r for r in results if r["format"] == fmt]
    groups["all"] = results
    for label, rows in groups.items():
        if not rows:
            continue
        counts = collections.Counter(c for r in rows for c in r["classes"])
        peaks = sorted(r["peak_kib"] / 1024 for r in rows)
        lines.append(f"| {label} | {len(rows)} | " + " | ".join(str(counts.get(c, 0)) for c in CLASSES)
                     + f" | {peaks[-1]:.0f} | {peaks[len(peaks) // 2]:.0f} |")
    lines.append("")
    lines.append("| damage | runs | " + " | ".join(CLASSES) + " |")
    lines.append("|" + "---|" * (len(CLASSES) + 2))
    for kind in MUTATORS:
        rows = [r for r in results if r["kind"] == kind]
        if rows:
            counts = collections.Counter(c for r in rows for c in r["classes"])
            lines.append(f"| {kind} | {len(rows)} | " + " | ".join(str(counts.get(c, 0)) for c in CLASSES) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--corpus", default="/work/corpus")
    parser.add_argument("--files", type=int, default=400, help="number of damaged files")
    parser.add_argument("--per-file", type=int, default=1, help="output formats per file (0: all)")
    parser.add_argument("--max-seconds", type=float, default=45, help="longest corpus file taken")
    parser.add_argument("--limit", type=float, default=120, help="time limit of one conversion, s")
    parser.add_argument("--seed", type=int, default=14)
    parser.add_argument("--work", default=None)
    parser.add_argument("--report", default=None, help="per-conversion results as JSON")
    parser.add_argument("--table", default=None, help="the outcome table as Markdown")
    parser.add_argument("--retable", default=None, help="only print the table of a --report file, its "
                        "failure reasons judged again")
    args = parser.parse_args()
    if args.retable:
        results = json.load(open(args.retable))
        for r in results:
            kind = "error" if r["status"] == "Error" else "rejected" if r["status"] == "Rejected" else None
            if kind:
                r["classes"] = [f"{kind}-vague" if vague(r["reason"]) else f"{kind}-reason"] + \
                    [c for c in r["classes"] if not c.startswith(kind)]
        print(table(results))
        return 0

    work = args.work or tempfile.mkdtemp(prefix="kestrine-campaign-")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ)
    env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    started = time.monotonic()
    inputs = sources(work, args.corpus, args.max_seconds)
    files = ordered(make_files(work, inputs, args.files, args.seed), args.seed)
    print(f"campaign: {len(files)} damaged files from {len(inputs)} inputs in {work}", flush=True)
    options = dict(FORMATS)
    mp3 = dc.mp3_encoder_name(args.cli, env)
    options["mp3"] = [mp3 if o == "@mp3" else o for o in FORMATS["mp3"]]
    results = []
    for entry in files:
        entry["sha256"] = sha256(entry["path"])
        entry["options"] = options
        for fmt in formats_for(entry, args.per_file):
            result = classify(entry, fmt, args.cli, env, work, args.limit)
            results.append(result)
            bad = [c for c in result["classes"] if c not in ("complete", "complete-warned", "error-reason",
                                                               "rejected-reason", "noisy")]
            print(f"{len(results):4d} {fmt:4s} {result['file']}: {result['status']} {result['classes']} "
                  f"{result['peak_kib'] // 1024} MiB {result['seconds']} s"
                  + (f" -- {result['reason'][:160]}" if bad or result["status"] == "Error" else ""), flush=True)
        del entry["options"]
        # Written as the run goes, so that a run cut short still leaves its table.
        if len(results) % 20 == 0:
            save(results, args)
    text = save(results, args)
    print(text)
    print(f"time: {time.monotonic() - started:.0f} s")
    return 0


def save(results, args):
    text = table(results)
    if args.table:
        with open(args.table, "w") as f:
            f.write(text + "\n")
    if args.report:
        with open(args.report, "w") as f:
            json.dump(results, f, indent=1)
    return text


if __name__ == "__main__":
    sys.exit(main())
