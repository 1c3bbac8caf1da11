#!/usr/bin/env python3
"""Side-by-side timing of kestrine-cli against the equivalent ffmpeg commands, a probe
benchmark against ffprobe, and memory checks over a long batch and a one-hour file.

Generates its own inputs (ffmpeg lavfi sources) in a scratch folder and runs every case a few
times, alternating the two sides so that both see the same load. Prints the median wall-clock
and CPU (user + system) time of each side and their ratios (kestrine / ffmpeg). kestrine-cli gets
a registry and encoder cache of its own, warmed up before timing, so that other programs'
plugin folders do not make it rescan.
Usage: bench/batch_bench.py [--build build] [--seconds 20] [--runs 3] [--clips 200]
                            [--only dvd,vcd,avi,mp3,wav,probe,rss,audio,vob,hd,hour]
                            [--corpus /work/corpus] [--baseline other/build]
  --baseline: a second build (an earlier commit) timed in the same alternation, with a registry
         and cache of its own; its ratios to ffmpeg are printed on a "before" line under each
         case, so that before and after see the same load
  audio: MP3 -> WAV and WAV -> MP3 (160 kb/s, 22 kHz, stereo), one 3-minute file and ten
         files in one call (ten ffmpeg runs on the other side)
  vob:   DVD PAL from DVD material (a 30-s PAL VOB)
  hd:    DVD PAL from 720p 30 fps and 1080p 25 fps H.264 + AAC files
  hour:  a one-hour MP3 (the corpus's hour.mp3, else a generated one) to WAV: peak memory and
         how steadily the progress moves
"""
import argparse
import os
import pty
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kw):
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)
    if result.returncode != 0:
        sys.stderr.write("command failed (%d): %s\n%s%s\n" % (result.returncode, " ".join(cmd),
                                                            result.stdout[-2000:], result.stderr[-2000:]))
        raise SystemExit(1)
    return result


def timed(cmds, before=None, env=None):
    """Runs the commands one after the other; wall-clock and CPU (user + system) seconds."""
    if before:
        before()
    wall = cpu = 0.0
    for cmd in cmds:
        start = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        wall += time.monotonic() - start
        cpu += usage.ru_utime + usage.ru_stime
        if os.waitstatus_to_exitcode(status) != 0:
            sys.stderr.write("command failed: %s\n%s\n" % (" ".join(cmd), proc.stderr.read()[-2000:].decode()))
            raise SystemExit(1)
        proc.stderr.close()
    return wall, cpu


def side_by_side(kcmds, fcmds, runs, kbefore, fbefore, base=None):
    """Medians of alternating runs: (kestrine wall, cpu), (ffmpeg wall, cpu), and the
    baseline's (base: (commands, env)) or None."""
    k, f, b = [], [], []
    sides = [lambda: k.append(timed(kcmds, kbefore)), lambda: f.append(timed(fcmds, fbefore))]
    if base:
        sides.append(lambda: b.append(timed(base[0], kbefore, base[1])))
    for i in range(runs):
        for j in range(len(sides)):
            sides[(i + j) % len(sides)]()
    med = lambda rows, col: statistics.median(r[col] for r in rows)
    return (med(k, 0), med(k, 1)), (med(f, 0), med(f, 1)), ((med(b, 0), med(b, 1)) if b else None)


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


def make_field_inputs(folder, corpus):
    """Real-shaped inputs of the audio, DVD and HD cases: the corpus files where present."""
    def corpus_or(name, path, args):
        found = os.path.join(corpus, name) if corpus else ""
        return found if found and os.path.exists(found) else ffmpeg_make(path, args)
    j = os.path.join
    return {
        "song": ffmpeg_make(j(folder, "song.mp3"), [
            "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=180",
            "-f", "lavfi", "-i", "anoisesrc=d=180:c=pink:r=44100:a=0.1",
            "-filter_complex", "[0][1]amix=inputs=2,pan=stereo|c0=c0|c1=c0",
            "-c:a", "libmp3lame", "-b:a", "192k", "-ac", "2"]),
        "voice": ffmpeg_make(j(folder, "voice.wav"), [
            "-f", "lavfi", "-i", "anoisesrc=d=90:c=pink:r=22050:a=0.2", "-ac", "1", "-c:a", "pcm_s16le"]),
        "vob": ffmpeg_make(j(folder, "dvd.vob"), [
            "-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25:duration=30",
            "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=30",
            "-target", "pal-dvd", "-aspect", "16:9"]),
        "hd720": corpus_or("phone.mp4", j(folder, "phone.mp4"), [
            "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=40",
            "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=40",
            "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "1"]),
        "hd1080": ffmpeg_make(j(folder, "camera.mp4"), [
            "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=30",
            "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=30",
            "-c:v", "libx264", "-preset", "veryfast", "-b:v", "12M", "-pix_fmt", "yuv420p",
            "-c:a", "aac", "-b:a", "192k", "-ac", "2"]),
        "hour": corpus_or("hour.mp3", j(folder, "hour.mp3"), [
            "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=3600",
            "-c:a", "libmp3lame", "-b:a", "128k", "-ac", "2"]),
    }


def hour_run(cli, source, out):
    """Converts one long file to WAV under a pseudo-terminal (so that kestrine-cli shows its
    progress line); returns (seconds, peak RSS KiB, progress samples [(t, percent)])."""
    master, slave = pty.openpty()
    start = time.monotonic()
    proc = subprocess.Popen([cli, "--format", "wav", "--audio-encoder", "_Uncompressed_", "--out", out, source],
                            stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    samples, peak = [], 0
    def read():
        pending = ""
        while True:
            try:
                chunk = os.read(master, 4096).decode(errors="replace")
            except OSError:
                return
            if not chunk:
                return
            pending += chunk
            for m in re.finditer(r"Conversion - (\d+)%", pending):
                samples.append((time.monotonic() - start, int(m.group(1))))
            pending = pending[-64:]
    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    rss_samples = []
    while proc.poll() is None:
        rss = rss_kb(proc.pid)
        if rss:
            rss_samples.append((time.monotonic() - start, rss))
            peak = max(peak, rss)
        time.sleep(0.2)
    reader.join(2)
    os.close(master)
    return time.monotonic() - start, peak, samples, rss_samples, proc.returncode


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
    parser.add_argument("--only", default="dvd,vcd,avi,mp3,wav,probe,rss,audio,vob,hd,hour")
    parser.add_argument("--corpus", default="/work/corpus")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("--baseline", help="a second build folder timed alongside")
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
    # A registry and an encoder cache of its own: a cache shared with other builds would be
    # rebuilt whenever one of them changes its plugins, and that would be measured too.
    os.environ["GST_REGISTRY"] = os.path.join(scratch, "registry.bin")
    os.environ["KESTRINE_CACHE_DIR"] = os.path.join(scratch, "cache")

    base = None
    if args.baseline:
        base_env = dict(os.environ)
        base_env["KESTRINE_PLUGIN_DIR"] = os.path.join(args.baseline, "bin", "plugins")
        base_env["GST_REGISTRY"] = os.path.join(scratch, "registry-baseline.bin")
        base_env["KESTRINE_CACHE_DIR"] = os.path.join(scratch, "cache-baseline")
        base = (os.path.join(args.baseline, "bin", "kestrine-cli"), base_env)

    inputs = os.path.join(scratch, "in")
    os.makedirs(inputs)
    video, wav, mp3 = make_inputs(inputs, args.seconds)
    kout, fout = os.path.join(scratch, "k"), os.path.join(scratch, "f")
    os.makedirs(kout)
    os.makedirs(fout)

    # Warm-up: the registry and the encoder lists are built once, outside the timings.
    run([cli, "--format", "wav", "--audio-encoder", "_Uncompressed_", "--out", kout, wav])
    run([cli, "--list-encoders"])
    if base:
        subprocess.run([base[0], "--format", "wav", "--audio-encoder", "_Uncompressed_", "--out", kout, wav],
                       env=base[1], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    print("inputs: %d s; medians of %d alternating runs; ratio = kestrine-cli / ffmpeg" % (args.seconds, args.runs))
    print("%-44s %9s %9s %9s %9s %7s %7s" % ("case", "k wall", "k cpu", "ff wall", "ff cpu", "wall", "cpu"))

    def report(name, k, f):
        print("%-44s %8.2fs %8.2fs %8.2fs %8.2fs %6.2fx %6.2fx" % (name, k[0], k[1], f[0], f[1],
                                                                   k[0] / f[0], k[1] / f[1]))
        sys.stdout.flush()

    def case(name, kcmd, fcmd, fcmds=None):
        """kcmd: one kestrine-cli call; fcmd: one ffmpeg call, or fcmds: several."""
        fcmds = fcmds or [fcmd]
        k, f, b = side_by_side([[cli] + kcmd + ["--out", kout]],
                               [["ffmpeg", "-nostdin", "-v", "error", "-y"] + c for c in fcmds],
                               args.runs, clean(kout), clean(fout),
                               ([[base[0]] + kcmd + ["--out", kout]], base[1]) if base else None)
        report(name, k, f)
        if b:
            report("  before (%s)" % args.baseline, b, f)

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

    field = make_field_inputs(inputs, args.corpus) if (only & {"audio", "vob", "hd", "hour"}) else {}
    if "audio" in only:
        song, voice = field["song"], field["voice"]
        songs, voices = [], []
        for i in range(10):
            for src, dest in ((song, songs), (voice, voices)):
                path = os.path.join(inputs, "%s%02d%s" % (os.path.splitext(os.path.basename(src))[0], i,
                                                          os.path.splitext(src)[1]))
                if not os.path.exists(path):
                    os.symlink(src, path)
                dest.append(path)
        to_wav = lambda src: ["-i", src, "-ar", "48000", "-ac", "2", os.path.join(fout, os.path.basename(src) + ".wav")]
        case("MP3 -> WAV, 3 min", ["--format", "wav", "--audio-encoder", "_Uncompressed_", song], to_wav(song))
        case("MP3 -> WAV, 10 x 3 min in one call", ["--format", "wav", "--audio-encoder", "_Uncompressed_"] + songs,
             None, [to_wav(p) for p in songs])
        position = audio_format_position(cli, lame, "160 kb/sec -- 22 kHz -- Stereo") if lame else None
        if position is None:
            names = encoder_names(cli).get("Audio encoders (WAV/MP3)", [])
            lame = pick(names, ["mp3 encoder", "lame"])
            position = audio_format_position(cli, lame, "160 kb/sec -- 22 kHz -- Stereo") if lame else None
        if position is not None:
            to_mp3 = lambda src: ["-i", src, "-ar", "22050", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "160k",
                                  os.path.join(fout, os.path.basename(src) + ".mp3")]
            kmp3 = ["--format", "wav", "--audio-encoder", lame, "--audio-format", position]
            case("WAV 22 kHz mono -> MP3 160k, 90 s", kmp3 + [voice], to_mp3(voice))
            case("WAV -> MP3, 10 x 90 s in one call", kmp3 + voices, None, [to_mp3(p) for p in voices])
        else:
            print("WAV -> MP3: no LAME 160 kb/s 22 kHz stereo format listed, skipped")
    dvd = ["--format", "mpeg", "--mpeg-type", "DVD", "--standard", "PAL"]
    if "vob" in only:
        case("DVD PAL from a 30-s DVD VOB", dvd + [field["vob"]],
             ["-i", field["vob"], "-target", "pal-dvd", os.path.join(fout, "vob.mpg")])
    if "hd" in only:
        case("DVD PAL from 720p30 H.264/AAC (%s)" % os.path.basename(field["hd720"]), dvd + [field["hd720"]],
             ["-i", field["hd720"], "-target", "pal-dvd", os.path.join(fout, "hd720.mpg")])
        case("DVD PAL from 1080p25 H.264/AAC, 30 s", dvd + [field["hd1080"]],
             ["-i", field["hd1080"], "-target", "pal-dvd", os.path.join(fout, "hd1080.mpg")])
    if "hour" in only:
        clean(kout)()
        seconds, peak, progress, rss, code = hour_run(cli, field["hour"], kout)
        # Memory after the first tenth against the peak, and the longest time the progress
        # stood still.
        settled = [r for t, r in rss if t > seconds / 10]
        longest, last_t, last_p = 0.0, 0.0, -1
        for t, p in progress:
            if p != last_p:
                longest = max(longest, t - last_t)
                last_t, last_p = t, p
        longest = max(longest, seconds - last_t)
        print("one-hour MP3 -> WAV (%s): %.1f s, exit %d; RSS after the first tenth %s-%s KiB, peak %d KiB; "
              "%d progress steps, longest still %.2f s"
              % (os.path.basename(field["hour"]), seconds, code, min(settled) if settled else "?",
                 max(settled) if settled else "?", peak, len(set(p for _, p in progress)), longest))

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
