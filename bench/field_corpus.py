#!/usr/bin/env python3
"""Converts every file of a folder (the field corpus) with kestrine-cli into AVI, DVD MPEG and WAV
and prints a Markdown table: file, format, status, source content, output, video frames of source
and output, warning or reason. One kestrine-cli process per file and format, with settings of its
own (the program's defaults), so that saved choices of other runs do not leak in.

Content is measured by ffprobe from the packets of the first video and first audio stream: from
the first time stamp to the end of the last packet (a packet with only a decoding time is shown
as much later as its neighbours; a stream without time stamps counts its frames). Frames are ffprobe's decoded frame count (-count_frames) of the first video stream.

Usage: bench/field_corpus.py [--cli build/bin/kestrine-cli] [--corpus /work/corpus] [--formats avi,mpeg,wav]
                             [--only NAME,...] [--keep DIR]
"""
import argparse
import json
import os
import shutil
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FORMATS = {"avi": ("AVI", []), "mpeg": ("DVD MPEG", ["--mpeg-type", "DVD"]), "wav": ("WAV", [])}


def probe_json(args):
    out = subprocess.run(["ffprobe", "-v", "error", "-of", "json"] + args, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True).stdout
    try:
        return json.loads(out or "{}")
    except ValueError:
        return {}


def number(value):
    try:
        return float(value)
    except (TypeError, ValueError):
        return None


def stream_span(path, selector):
    """(first time, end) of a stream's packets, or None when it has none."""
    packets = probe_json(["-select_streams", selector, "-show_entries",
                          "packet=pts_time,dts_time,duration_time", path]).get("packets", [])
    first = end = None
    timed = 0
    lead = 0.0  # presentation after decoding, for packets that carry only a decoding time
    for p in packets:
        t, d = number(p.get("pts_time")), number(p.get("dts_time"))
        if t is not None and d is not None:
            lead = t - d
        elif t is None and d is not None:
            t = d + lead
        if t is None:
            continue
        timed += 1
        first = t if first is None else min(first, t)
        end = max(end or t, t + (number(p.get("duration_time")) or 0))
    if packets and timed < len(packets) / 2:
        # Elementary video: packets carry no times; frames × frame duration.
        info = probe_json(["-select_streams", selector, "-count_frames", "-show_entries",
                           "stream=nb_read_frames,r_frame_rate", path]).get("streams", [{}])[0]
        frames = int(info.get("nb_read_frames") or 0)
        num, _, den = (info.get("r_frame_rate") or "0/1").partition("/")
        rate = float(num) / float(den or 1) if float(den or 1) else 0
        return (0.0, frames / rate) if frames and rate else None
    return (first, end) if first is not None else None


def content(path):
    spans = [s for s in (stream_span(path, "v:0"), stream_span(path, "a:0")) if s]
    if not spans:
        return None
    return max(e for _, e in spans) - min(f for f, _ in spans)


def video_frames(path):
    info = probe_json(["-select_streams", "v:0", "-count_frames", "-show_entries",
                       "stream=nb_read_frames", path]).get("streams", [])
    return info[0].get("nb_read_frames", "–") if info else "–"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "kestrine-cli"))
    parser.add_argument("--corpus", default="/work/corpus")
    parser.add_argument("--formats", default="avi,mpeg,wav")
    parser.add_argument("--only", default="", help="comma-separated file names")
    parser.add_argument("--keep", default="", help="folder that keeps the outputs")
    args = parser.parse_args()
    cli = args.cli
    work = tempfile.mkdtemp(prefix="kestrine-field-corpus-")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    names = sorted(n for n in os.listdir(args.corpus) if os.path.isfile(os.path.join(args.corpus, n)))
    if args.only:
        names = [n for n in names if n in args.only.split(",")]
    print("| file | format | status | source content s | output s | frames source → output | "
          "warning / reason |")
    print("|---|---|---|---|---|---|---|", flush=True)
    sources = {}
    for fmt in args.formats.split(","):
        label, extra = FORMATS[fmt]
        for name in names:
            src = os.path.join(args.corpus, name)
            if name not in sources:
                sources[name] = (content(src), video_frames(src))
            out = os.path.join(work, "out")
            os.makedirs(out, exist_ok=True)
            result = subprocess.run([cli, "--format", fmt, "--out", out] + extra + [src],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                                    timeout=3600)
            lines = (result.stdout + "\n" + result.stderr).splitlines()
            status = next((l.split(": ")[-1] for l in lines if l.startswith(name + ": ")), "Rejected")
            notes = [l.strip(" •").replace("kestrine-cli: ", "") for l in result.stderr.splitlines()
                     if "arning" in l or "rror" in l or "ejected" in l or "annot" in l]
            note = "; ".join(dict.fromkeys(notes))[:200]
            written = [f for f in os.listdir(out) if not f.startswith(".")]
            length = frames = "–"
            if written:
                target = os.path.join(out, written[0])
                measured = content(target)
                length = "%.3f" % measured if measured is not None else "–"
                frames = video_frames(target)
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    shutil.copy(target, os.path.join(args.keep, written[0]))
            for f in os.listdir(out):
                os.remove(os.path.join(out, f))
            held, src_frames = sources[name]
            print("| %s | %s | %s | %s | %s | %s | %s |" % (
                name, label, status, "%.3f" % held if held is not None else "–", length,
                "%s → %s" % (src_frames, frames) if src_frames != "–" else "",
                note.replace("|", "/")), flush=True)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
