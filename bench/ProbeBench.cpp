// Probes a mix of good and bad files many times and reports the cost per probe and whether
// descriptors, threads or memory grow with the number of probes (they must not: every probe
// tears its pipeline down completely).
//
// Usage: probe_bench [rounds]   (default 200)

#include <dirent.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ClipProbe.h"
#include "MediaFramework.h"
#include "ProjectItem.h"
#include "TestMedia.h"

namespace {

int CountEntries(const char* folder) {
    int n = 0;
    if (DIR* dir = opendir(folder)) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++n;
        }
        closedir(dir);
    }
    return n;
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

struct Sample {
    int fds, threads;
    long rssKiB;
};

Sample Measure() {
    return {CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), RssKiB()};
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    if (FAILED(InitMediaFramework())) {
        std::fprintf(stderr, "media framework unavailable\n");
        return 1;
    }
    QTemporaryDir dir;
    std::vector<std::string> files;
    using testmedia::Kind;
    for (Kind kind : {Kind::AviMjpegPcm, Kind::Mpeg2Program, Kind::WavPcm, Kind::Mp3}) {
        const QString path = testmedia::MakeClip(kind, dir.path(), 2.0);
        if (path.isEmpty()) {
            std::fprintf(stderr, "could not make test media (is ffmpeg installed?)\n");
            return 1;
        }
        files.push_back(path.toStdString());
    }
    {
        QFile bad(dir.path() + "/notes.avi");
        bad.open(QIODevice::WriteOnly);
        bad.write("not a movie\n");
        files.push_back(bad.fileName().toStdString());
        files.push_back((dir.path() + "/vanished.avi").toStdString());
    }

    auto probeOne = [&](int i) {
        CProjectItem clip;
        clip.SetPath(files[i % files.size()]);
        clip.SetName("clip");
        CClipProbe probe;
        return SUCCEEDED(probe.Probe(clip));
    };

    // Warm-up: plugin loading, GLib thread pools and caches settle in the first probes.
    for (int i = 0; i < static_cast<int>(files.size()) * 3; ++i) probeOne(i);
    const Sample before = Measure();
    QElapsedTimer timer;
    timer.start();
    int accepted = 0;
    int maxThreads = before.threads;
    for (int i = 0; i < rounds; ++i) {
        accepted += probeOne(i) ? 1 : 0;
        maxThreads = std::max(maxThreads, Measure().threads);
    }
    const double ms = static_cast<double>(timer.elapsed());
    const Sample after = Measure();

    std::printf("probes: %d (%d accepted, %d rejected) over %zu files\n", rounds, accepted,
                rounds - accepted, files.size());
    std::printf("time: %.1f ms per probe\n", ms / rounds);
    std::printf("open descriptors: %d before, %d after\n", before.fds, after.fds);
    std::printf("threads: %d before, %d after, %d at most between probes\n", before.threads,
                after.threads, maxThreads);
    std::printf("resident memory: %ld KiB before, %ld KiB after (%+.1f KiB per probe)\n",
                before.rssKiB, after.rssKiB,
                static_cast<double>(after.rssKiB - before.rssKiB) / rounds);
    const bool leak = after.fds > before.fds || after.threads > before.threads + 2;
    std::printf("%s\n",
                leak ? "LEAK: descriptors or threads grew" : "no growth of descriptors or threads");
    gst_deinit();  // lets GStreamer's leak tracer (GST_TRACERS=leaks) report what is left
    return leak ? 2 : 0;
}
