// kestrine-probe-server: takes media files through AcceptClip (the clip probe as both front ends
// use it), one after the other, for the damaged-input corpus run. Reads one path per line on
// stdin; for each writes
//   "BEGIN <path>" before probing (so a crash or hang can be blamed on that file), then
//   "ACCEPT <duration s> <width>x<height> audio=<0|1> video=<coding> audiocoding=<coding>" or
//   "REJECT <hex code> <reason>"
// on stdout, flushed line by line. The caller enforces the time limit and restarts the server
// after a crash.
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <iostream>
#include <string>

#include "ClipAcceptance.h"
#include "MediaFramework.h"
#include "ProjectItem.h"
#include "Result.h"

namespace {

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

void ProbeOne(const std::string& path) {
    std::printf("BEGIN %s\n", path.c_str());
    std::fflush(stdout);
    CProjectItem clip;
    const ClipResult accepted =
        AcceptClip(QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString(), clip);
    if (accepted.Failed()) {
        std::printf("REJECT 0x%08X %s\n", static_cast<unsigned>(accepted.code),
                    OneLine(accepted.Reason()).c_str());
    } else {
        std::printf("ACCEPT %.3f %dx%d audio=%d video=%s audiocoding=%s\n",
                    clip.GetDuration() / 1e7, clip.GetWidth(), clip.GetHeight(),
                    clip.GetHasAudio() ? 1 : 0, OneLine(clip.GetVideoCodec()).c_str(),
                    OneLine(clip.GetAudioCodec()).c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (std::string why; FAILED(InitMediaFramework(&why))) {
        std::fprintf(stderr, "kestrine-probe-server: %s\n", why.c_str());
        return 1;
    }
    std::string path;
    while (std::getline(std::cin, path))
        if (!path.empty()) ProbeOne(path);
    return 0;
}
