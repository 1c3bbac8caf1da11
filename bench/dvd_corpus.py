#!/usr/bin/env python3
"""Runs every file of a folder (the field corpus) through kestrine-cli into DVD MPEG (PAL) and
prints a Markdown table: file, status, source length, output length, video frames, display
aspect, warning. With --baseline, an earlier build converts each file too and its results stand
beside, with the rows that differ marked.
Usage: bench/dvd_corpus.py [--build build] [--baseline other/build] [--corpus /work/corpus]
                           [--standard PAL|NTSC] [--skip hour.mp3,long.wmv]
"""
import argparse
import os
import shutil
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def probe(path, entries, stream=None):
    cmd = ["ffprobe", "-v", "error"]
    if stream:
        cmd += ["-select_streams", stream, "-count_packets"]
    cmd += ["-show_entries", entries, "-of", "csv=p=0", path]
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()


def length(path):
    try:
        return "%.2f" % float(probe(path, "format=duration"))
    except ValueError:
        return "-"


def video_facts(path):
    """(frames, display aspect) of the first video stream, or ("-", "-")."""
    out = probe(path, "stream=nb_read_packets,display_aspect_ratio", "v:0").split("\n")[0].split(",")
    if len(out) < 2 or not out[0]:
        return "-", "-"
    return out[1], out[0]


def convert(cli, env, src, out, standard):
    os.makedirs(out, exist_ok=True)
    name = os.path.basename(src)
    result = subprocess.run([cli, "--format", "mpeg", "--mpeg-type", "DVD", "--standard", standard,
                             "--out", out, src],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, timeout=3600)
    lines = (result.stdout + result.stderr).splitlines()
    status = next((l.split(": ")[-1] for l in lines if l.startswith(name + ": ")), "rejected")
    note = "; ".join(l.replace("kestrine-cli: ", "") for l in result.stderr.splitlines())[:120]
    written = [f for f in os.listdir(out) if f.endswith(".mpg")]
    facts = ("-", "-", "-")
    if written:
        path = os.path.join(out, written[0])
        facts = (length(path),) + video_facts(path)
    shutil.rmtree(out, ignore_errors=True)
    return (status,) + facts + (note.replace("|", "/"),)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--baseline")
    parser.add_argument("--corpus", default="/work/corpus")
    parser.add_argument("--standard", default="PAL")
    parser.add_argument("--skip", default="")
    args = parser.parse_args()
    skip = set(filter(None, args.skip.split(",")))
    work = tempfile.mkdtemp(prefix="kestrine-dvd-corpus-")
    sides = [("after", args.build)] + ([("before", args.baseline)] if args.baseline else [])
    envs = {}
    for label, build in sides:
        envs[label] = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config-" + label),
                           KESTRINE_PLUGIN_DIR=os.path.join(build, "bin", "plugins"),
                           GST_REGISTRY=os.path.join(work, "registry-%s.bin" % label),
                           KESTRINE_CACHE_DIR=os.path.join(work, "cache-" + label))
    print("DVD MPEG %s; frames = video packets of the output; aspect = its display aspect\n" % args.standard)
    header = "| file | source s | status | output s | frames | aspect | warning / reason |"
    if args.baseline:
        header += " before: status, s, frames, aspect | same |"
    print(header)
    print("|---" * (header.count("|") - 1) + "|")
    for name in sorted(os.listdir(args.corpus)):
        src = os.path.join(args.corpus, name)
        if not os.path.isfile(src) or name in skip:
            continue
        rows = {label: convert(os.path.join(build, "bin", "kestrine-cli"), envs[label], src,
                               os.path.join(work, "out-" + label), args.standard)
                for label, build in sides}
        status, seconds, frames, aspect, note = rows["after"]
        line = "| %s | %s | %s | %s | %s | %s | %s |" % (name, length(src), status, seconds, frames, aspect, note)
        if args.baseline:
            before = rows["before"]
            same = before[:3] == rows["after"][:3]
            line += " %s, %s, %s, %s | %s |" % (before[0], before[1], before[2], before[3],
                                                "yes" if same else "**no**")
        print(line, flush=True)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
