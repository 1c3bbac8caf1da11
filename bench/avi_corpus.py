#!/usr/bin/env python3
"""Runs every file of a folder (the field corpus) through kestrine-cli into AVI with the given
encoders and prints a Markdown table: file, status, source length, output length, warning.
Usage: bench/avi_corpus.py [--build build] [--corpus /work/corpus]
                           [--video "x264 H.264 Encoder"] [--audio "L.A.M.E. mp3 encoder"]
"""
import argparse
import os
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def length(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()
    try:
        return "%.2f" % float(out)
    except ValueError:
        return "–"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--corpus", default="/work/corpus")
    parser.add_argument("--video", default="x264 H.264 Encoder")
    parser.add_argument("--audio", default="L.A.M.E. mp3 encoder")
    args = parser.parse_args()
    cli = os.path.join(args.build, "bin", "kestrine-cli")
    work = tempfile.mkdtemp(prefix="kestrine-avi-corpus-")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    print("AVI 320x240 25 fps, video %s, audio %s\n" % (args.video, args.audio))
    print("| file | status | source s | output s | warning / reason |")
    print("|---|---|---|---|---|")
    for name in sorted(os.listdir(args.corpus)):
        src = os.path.join(args.corpus, name)
        if not os.path.isfile(src):
            continue
        out = os.path.join(work, "out")
        os.makedirs(out, exist_ok=True)
        result = subprocess.run([cli, "--format", "avi", "--out", out, "--width", "320", "--height", "240", "--fps",
                                 "25", "--video-encoder", args.video, "--audio-encoder", args.audio, src],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, timeout=3600)
        lines = (result.stdout + result.stderr).splitlines()
        status = next((l.split(": ")[-1] for l in lines if l.startswith(name + ": ")), "rejected")
        note = "; ".join(l.replace("kestrine-cli: ", "") for l in result.stderr.splitlines())[:160]
        written = [f for f in os.listdir(out) if f.endswith(".avi")]
        output = length(os.path.join(out, written[0])) if written else "–"
        for f in os.listdir(out):
            os.remove(os.path.join(out, f))
        print("| %s | %s | %s | %s | %s |" % (name, status, length(src), output, note.replace("|", "/")))


if __name__ == "__main__":
    main()
