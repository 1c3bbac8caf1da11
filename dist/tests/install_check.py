#!/usr/bin/env python3
"""Installs a built tree into a temporary DESTDIR under the prefix /usr (the package's layout)
and checks what landed there, the way a desktop and a GStreamer user meet it:

  - the menu entry and the AppStream data pass desktop-file-validate and
    `appstreamcli validate --no-net`, and name a program and an icon that were installed;
  - the icon theme holds the application icon at every size, each of its nominal size, and
    scalable;
  - the manual page of kestrine-cli is its --help text;
  - the help page sits where the installed program looks for it;
  - gst-inspect-1.0 finds tarrowhold and the writers through the installed plugin folder alone;
  - the installed kestrine-cli, with no environment pointing at any plugin folder, converts a
    clip to MPEG (the hold element and the MPEG writer at work) that ffprobe reads, and loads
    its plugins from the installed folder.

  install_check.py --build build --plugin-dir lib/x86_64-linux-gnu/gstreamer-1.0 --app-id ID
"""

import argparse
import configparser
import gzip
import json
import os
import struct
import subprocess
import sys
import tempfile
from xml.etree import ElementTree

ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def run(args, env=None, timeout=120):
    return subprocess.run(args, env=env, timeout=timeout, capture_output=True, text=True)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def clean_env(**extra):
    """The environment without any pointer at the project's or GStreamer's plugin folders."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("KESTRINE_PLUGIN_DIR", "GST_PLUGIN_PATH", "GST_PLUGIN_PATH_1_0",
                        "GST_PLUGIN_SYSTEM_PATH", "GST_PLUGIN_SYSTEM_PATH_1_0", "GST_REGISTRY")}
    env.update(extra)
    return env


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--plugin-dir", required=True, help="plugin folder relative to the prefix")
    parser.add_argument("--app-id", required=True)
    parser.add_argument("--cmake", default="cmake")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="kestrine-install-") as temp:
        destdir = os.path.join(temp, "root")
        usr = destdir + "/usr"
        installed = run([args.cmake, "--install", args.build, "--prefix", "/usr"],
                        env=dict(os.environ, DESTDIR=destdir))
        if installed.returncode != 0:
            print(installed.stdout, installed.stderr, file=sys.stderr)
            return 1

        for program in ("kestrine", "kestrine-cli"):
            check(os.access(f"{usr}/bin/{program}", os.X_OK), f"bin/{program} installed")
        check(sorted(os.listdir(f"{usr}/bin")) == ["kestrine", "kestrine-cli"],
              f"bin holds the two programs only: {os.listdir(usr + '/bin')}")

        desktop = f"{usr}/share/applications/{args.app_id}.desktop"
        result = run(["desktop-file-validate", desktop])
        check(result.returncode == 0 and not result.stdout.strip(),
              f"desktop-file-validate: {result.stdout}{result.stderr}")
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(desktop)
        section = entry["Desktop Entry"]
        check(section.get("Exec", "").split()[0] == "kestrine" and "%F" in section.get("Exec", ""),
              "the entry starts kestrine with the files it is given")
        check(os.path.exists(f"{usr}/bin/{section.get('TryExec', '')}"), "TryExec names an installed program")
        mime_types = section.get("MimeType", "")
        for mime in ("video/x-msvideo", "video/mpeg", "video/x-ms-wmv", "audio/x-wav", "audio/mpeg"):
            check(mime + ";" in mime_types, f"the entry opens {mime}")

        metainfo = f"{usr}/share/metainfo/{args.app_id}.metainfo.xml"
        result = run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo])
        check(result.returncode == 0, f"appstreamcli validate: {result.stdout}{result.stderr}")
        with open(metainfo, encoding="utf-8") as f:
            text = f.read()
        check(f">{args.app_id}.desktop</launchable>" in text, "metainfo launches the installed entry")
        check("@PROJECT_VERSION@" not in text and '<release version="' in text, "metainfo has its release")

        icon = section.get("Icon", "")
        for size in ICON_SIZES:
            path = f"{usr}/share/icons/hicolor/{size}x{size}/apps/{icon}.png"
            check(os.path.exists(path) and png_size(path) == (size, size), f"icon {size}x{size}")
        try:
            svg = ElementTree.parse(f"{usr}/share/icons/hicolor/scalable/apps/{icon}.svg").getroot()
        except (OSError, ElementTree.ParseError):
            svg = None
        check(svg is not None and svg.tag == "{http://www.w3.org/2000/svg}svg" and svg.get("viewBox") == "0 0 64 64",
              "scalable icon")

        man = f"{usr}/share/man/man1/kestrine-cli.1.gz"
        help_text = run([f"{usr}/bin/kestrine-cli", "--help"]).stdout
        try:
            with gzip.open(man, "rt", encoding="utf-8") as f:
                page = f.read()
        except OSError:
            page = ""
        check(page.startswith(".\\\"") and ".TH KESTRINE-CLI \"1\"" in page, "manual page header")
        for option in ("--format", "--mpeg-type", "--list-encoders"):
            check(option in help_text and option.replace("-", "\\-") in page, f"manual page lists {option}")

        check(os.path.exists(f"{usr}/share/kestrine/kestrine.html"), "help page in share/kestrine")

        plugins = os.path.join(usr, args.plugin_dir)
        for library in ("libgsttarrow.so", "libgstkestrinwriters.so"):
            check(os.path.exists(os.path.join(plugins, library)), f"{args.plugin_dir}/{library}")
        # Only the installed folder is GStreamer's plugin folder here: what is found, is found there.
        inspect_env = clean_env(GST_PLUGIN_SYSTEM_PATH_1_0=plugins, GST_REGISTRY_1_0=temp + "/inspect.bin")
        for element, long_name in (("tarrowhold", "VireoTarrow"), ("kestrinempegwriter", "MPEG Writer Filter"),
                                   ("kestrinwavwriter", "WAV Writer Filter")):
            result = run(["gst-inspect-1.0", element], env=inspect_env)
            check(result.returncode == 0 and long_name in result.stdout,
                  f"gst-inspect-1.0 {element}: {result.stderr.strip()}")

        clip = os.path.join(temp, "clip.avi")
        made = run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2",
                    "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2",
                    "-c:v", "mjpeg", "-c:a", "pcm_s16le", clip])
        check(made.returncode == 0, f"ffmpeg made the clip: {made.stderr}")
        registry = temp + "/registry.bin"
        out = os.path.join(temp, "out")
        convert_env = clean_env(GST_REGISTRY_1_0=registry, XDG_CONFIG_HOME=temp + "/config",
                                XDG_CACHE_HOME=temp + "/cache", QT_QPA_PLATFORM="offscreen")
        result = run([f"{usr}/bin/kestrine-cli", "--format", "mpeg", "--mpeg-type", "VCD", "--standard", "PAL",
                      "--out", out, clip], env=convert_env, timeout=240)
        check(result.returncode == 0, f"installed kestrine-cli converts: {result.stdout}{result.stderr}")
        output = os.path.join(out, "clip_converted.mpg")
        probe = run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", output])
        facts = json.loads(probe.stdout or "{}")
        streams = {s.get("codec_type"): s for s in facts.get("streams", [])}
        check(streams.get("video", {}).get("codec_name") == "mpeg1video"
              and streams.get("video", {}).get("width") == 352
              and streams.get("audio", {}).get("codec_name") == "mp2"
              and abs(float(facts.get("format", {}).get("duration", 0)) - 2.0) < 0.3,
              f"ffprobe reads a 2 s VCD stream: {probe.stdout[:400]}{probe.stderr}")
        try:
            with open(registry, "rb") as f:
                cached = f.read()
        except OSError:
            cached = b""
        check(os.path.join(plugins, "libgsttarrow.so").encode() in cached
              and os.path.join(plugins, "libgstkestrinwriters.so").encode() in cached,
              "kestrine-cli registered its plugins from the installed folder")

    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    print("install checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
