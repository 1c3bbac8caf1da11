// Probes the given files in rounds, the way Add clip accepts them, and prints the mean time per
// probe; batch_bench.py compares it with ffprobe on the same files.
//
// Usage: kestrine-probe-bench ROUNDS FILE...

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>

#include "ClipProbe.h"
#include "MediaFramework.h"
#include "ProjectItem.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrine-probe-bench ROUNDS FILE...\n");
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    if (FAILED(InitMediaFramework())) {
        std::fprintf(stderr, "media framework unavailable\n");
        return 1;
    }
    int rejected = 0;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        for (int i = 2; i < argc; ++i) {
            CProjectItem clip;
            clip.SetPath(argv[i]);
            clip.SetName("clip");
            CClipProbe probe;
            if (FAILED(probe.Probe(clip)) || clip.GetDuration() == 0) ++rejected;
        }
    }
    const int probes = rounds * (argc - 2);
    std::printf("%d probes, %d rejected, %.1f ms per probe\n", probes, rejected,
                static_cast<double>(timer.elapsed()) / probes);
    return rejected ? 1 : 0;
}
