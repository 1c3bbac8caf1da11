// kestrine-probe-server: probes media files with CClipProbe, one after the other, for the
// damaged-input corpus run. Reads one path per line on stdin; for each writes
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

#include "ClipProbe.h"
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
    const QFileInfo info(QString::fromStdString(path));
    CProjectItem clip;
    clip.SetPath(info.absoluteFilePath().toStdString());
    clip.SetName(info.fileName().toStdString());
    clip.SetFileSize(info.size());
    HRESULT hr = E_FAIL;
    std::string why;
    {
        CClipProbe probe;
        hr = probe.Probe(clip);
        why = probe.RenderErrorText();
    }
    if (FAILED(hr) || clip.GetDuration() <= 0) {
        if (why.empty()) why = FAILED(hr) ? ErrorText(hr) : "the file has no duration";
        std::printf("REJECT 0x%08X %s\n", static_cast<unsigned>(hr), OneLine(why).c_str());
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
    if (FAILED(InitMediaFramework())) {
        std::fprintf(stderr, "kestrine-probe-server: %s\n", MediaErrorText().c_str());
        return 1;
    }
    std::string path;
    while (std::getline(std::cin, path))
        if (!path.empty()) ProbeOne(path);
    return 0;
}
