#!/usr/bin/env python3
"""Side-by-side timing of kestrine-cli against the equivalent ffmpeg commands, a probe
benchmark against ffprobe, and a memory check over a long batch.

Generates its own inputs (ffmpeg lavfi sources) in a scratch folder, runs every case a few
times and prints the best wall-clock time of each side and their ratio (kestrine / ffmpeg).
Usage: bench/batch_bench.py [--build build] [--seconds 20] [--runs 3] [--clips 200]
                            [--only dvd,vcd,avi,mp3,wav,probe,rss]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kw):
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)
    if result.returncode != 0:
        sys.stderr.write("command failed (%d): %s\n%s%s\n" % (result.returncode, " ".join(cmd),
                                                            result.stdout[-2000:], result.stderr[-2000:]))
        raise SystemExit(1)
    return result


def best_time(cmd, runs, before=None):
    best = None
    for _ in range(runs):
        if before:
            before()
        start = time.monotonic()
        run(cmd)
        elapsed = time.monotonic() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def ffmpeg_make(path, args):
    if not os.path.exists(path):
        run(["ffmpeg", "-v", "error", "-y"] + args + [path])
    return path


def make_inputs(folder, seconds):
    s = str(seconds)
    video = ffmpeg_make(os.path.join(folder, "movie.avi"), [
        "-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25:duration=" + s,
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + s,
        "-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le", "-ac", "2"])
    wav = ffmpeg_make(os.path.join(folder, "tone.wav"), [
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + s,
        "-c:a", "pcm_s16le", "-ac", "2"])
    mp3 = ffmpeg_make(os.path.join(folder, "tone.mp3"), [
        "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=" + s,
        "-c:a", "libmp3lame", "-b:a", "128k", "-ac", "2"])
    return video, wav, mp3


def clean(folder):
    def doit():
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    return doit


def encoder_names(cli):
    """The long names kestrine-cli lists, by section."""
    out = run([cli, "--list-encoders"]).stdout
    sections, current = {}, None
    for line in out.splitlines():
        if line.endswith(":") and not line.startswith(" "):
            current = line[:-1]
            sections[current] = []
        elif current and line.strip():
            sections[current].append(line.strip())
    return sections


def pick(names, wanted):
    for want in wanted:
        for name in names:
            if want.lower() in name.lower():
                return name
    return None


def audio_format_position(cli, encoder, text):
    out = run([cli, "--format", "wav", "--list-audio-formats", encoder]).stdout
    for line in out.splitlines():
        head, _, rest = line.partition(":")
        if text in rest and head.strip().isdigit():
            return head.strip()
    return None


def rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--clips", type=int, default=200)
    parser.add_argument("--only", default="dvd,vcd,avi,mp3,wav,probe,rss")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()
    only = set(args.only.split(","))

    cli = os.path.join(args.build, "bin", "kestrine-cli")
    probe_bench = os.path.join(args.build, "bin", "kestrine-probe-bench")
    env_plugins = os.path.join(args.build, "bin", "plugins")
    os.environ.setdefault("KESTRINE_PLUGIN_DIR", env_plugins)
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    # Keep the user's remembered settings out of the measurement.
    scratch = tempfile.mkdtemp(prefix="kestrine-bench-")
    os.environ["XDG_CONFIG_HOME"] = os.path.join(scratch, "config")

    inputs = os.path.join(scratch, "in")
    os.makedirs(inputs)
    video, wav, mp3 = make_inputs(inputs, args.seconds)
    kout, fout = os.path.join(scratch, "k"), os.path.join(scratch, "f")
    os.makedirs(kout)
    os.makedirs(fout)

    print("inputs: %d s; best of %d runs; ratio = kestrine-cli / ffmpeg" % (args.seconds, args.runs))
    print("%-34s %10s %10s %7s" % ("case", "kestrine", "ffmpeg", "ratio"))

    def case(name, kcmd, fcmd):
        k = best_time([cli] + kcmd + ["--out", kout], args.runs, clean(kout))
        f = best_time(["ffmpeg", "-v", "error", "-y"] + fcmd, args.runs, clean(fout))
        print("%-34s %9.2fs %9.2fs %6.2fx" % (name, k, f, k / f))
        sys.stdout.flush()

    if "dvd" in only:
        case("DVD PAL (movie.avi)", ["--format", "mpeg", "--mpeg-type", "DVD", "--standard", "PAL", video],
             ["-i", video, "-target", "pal-dvd", os.path.join(fout, "movie.mpg")])
    if "vcd" in only:
        case("VCD PAL (movie.avi)", ["--format", "mpeg", "--mpeg-type", "VCD", "--standard", "PAL", video],
             ["-i", video, "-target", "pal-vcd", os.path.join(fout, "movie.mpg")])

    encoders = encoder_names(cli) if (only & {"avi", "mp3"}) else {}
    audio_encoders = encoders.get("Audio encoders (AVI)", []) + encoders.get("Audio encoders (WAV/MP3)", [])
    lame = pick(audio_encoders, ["mp3 encoder", "lame"])
    if "avi" in only:
        # Same codecs on both sides: HuffYUV video (libavcodec's encoder in both) and MP3 audio
        # (LAME in both), 320x240 at 25 fps.
        huffyuv = pick(encoders.get("Video encoders (AVI)", []), ["huffyuv"])
        if huffyuv and lame:
            case("AVI HuffYUV+MP3 320x240 (movie.avi)",
                 ["--format", "avi", "--width", "320", "--height", "240", "--fps", "25",
                  "--video-encoder", huffyuv, "--audio-encoder", lame, video],
                 ["-i", video, "-vf", "scale=320:240", "-r", "25", "-c:v", "huffyuv",
                  "-c:a", "libmp3lame", "-b:a", "128k", os.path.join(fout, "movie.avi")])
        else:
            print("AVI: no HuffYUV or LAME encoder listed, skipped")
    if "mp3" in only:
        position = audio_format_position(cli, lame, "128 kb/sec -- 44 kHz -- Stereo") if lame else None
        if position is not None:
            case("WAV -> MP3 128k (tone.wav)",
                 ["--format", "wav", "--audio-encoder", lame, "--audio-format", position, wav],
                 ["-i", wav, "-c:a", "libmp3lame", "-b:a", "128k", os.path.join(fout, "tone.mp3")])
        else:
            print("WAV -> MP3: no LAME 128 kb/s stereo format listed, skipped")
    if "wav" in only:
        case("MP3 -> WAV (tone.mp3)", ["--format", "wav", "--audio-encoder", "_Uncompressed_", mp3],
             ["-i", mp3, "-c:a", "pcm_s16le", os.path.join(fout, "tone.wav")])

    if "probe" in only and os.path.exists(probe_bench):
        files = [video, wav, mp3]
        rounds = 20
        # Warm-up for both sides (plugin loading, page cache).
        run([probe_bench, "1"] + files)
        for f in files:
            run(["ffprobe", "-v", "error", "-show_format", "-show_streams", f])
        start = time.monotonic()
        run([probe_bench, str(rounds)] + files)
        k = time.monotonic() - start
        start = time.monotonic()
        for _ in range(rounds):
            for f in files:
                run(["ffprobe", "-v", "error", "-show_format", "-show_streams", f])
        f = time.monotonic() - start
        n = rounds * len(files)
        # kestrine probes in one process; ffprobe starts a process per file, which is its normal use.
        print("%-34s %8.1fms %8.1fms %6.2fx" % ("probe, per file (%d probes)" % n, 1000 * k / n, 1000 * f / n, k / f))

    if "rss" in only:
        clip = ffmpeg_make(os.path.join(inputs, "short.avi"), [
            "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1",
            "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1",
            "-c:v", "mjpeg", "-c:a", "pcm_s16le"])
        many = os.path.join(scratch, "many")
        os.makedirs(many)
        files = []
        for i in range(args.clips):
            path = os.path.join(many, "c%03d.avi" % i)
            os.symlink(clip, path)
            files.append(path)
        clean(kout)()
        proc = subprocess.Popen([cli, "--format", "avi", "--out", kout] + files,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        done, rss20, rss_end = 0, None, None
        for line in proc.stdout:
            if line.endswith(": Complete\n") or ": Error" in line or ": Stopped" in line:
                done += 1
                if done == 20:
                    rss20 = rss_kb(proc.pid)
            if "Conversion finished" in line:
                rss_end = rss_kb(proc.pid)
        proc.wait()
        print("RSS over %d clips: after clip 20 %s KiB, after clip %d %s KiB (exit %d)"
              % (args.clips, rss20, args.clips, rss_end, proc.returncode))

    if args.keep:
        print("scratch kept in", scratch)
    else:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
