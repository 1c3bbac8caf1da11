#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "BatchDriver.h"

TEST(OutputName, KindsPickExtensionAndKeepSuffix) {
    EXPECT_EQ(MakeOutputName(KindAvi, "holiday.avi", "_converted"), "holiday_converted.avi");
    EXPECT_EQ(MakeOutputName(KindMpeg, "holiday.avi", "_converted"), "holiday_converted.mpg");
    EXPECT_EQ(MakeOutputName(KindWav, "song.mp3", "_1411kbps-44kHz-Stereo"),
              "song_1411kbps-44kHz-Stereo.wav");
    EXPECT_EQ(MakeOutputName(KindMp3, "song.wav", ""), "song.mp3");
}

TEST(OutputName, ExtensionStartsAtLastPeriodAndFoldersAreDropped) {
    EXPECT_EQ(MakeOutputName(KindAvi, "take.2.final.vob", "_x"), "take.2.final_x.avi");
    EXPECT_EQ(MakeOutputName(KindAvi, "noextension", "_x"), "noextension_x.avi");
    EXPECT_EQ(MakeOutputName(KindAvi, "/media/dvd.d/clip.mpg", "_x"), "clip_x.avi");
}

TEST(OutputName, OverlongNamesAreShortenedButKeepSuffixAndExtension) {
    // 300 two-byte characters: the cut must fall between characters.
    std::string base;
    for (int i = 0; i < 300; ++i) base += "\xC3\xA9";
    const std::string name = MakeOutputName(KindMp3, base + ".wav", "_128kbps-44kHz-Stereo");
    EXPECT_LE(name.size(), kMaxOutputNameBytes);
    EXPECT_TRUE(name.ends_with("_128kbps-44kHz-Stereo.mp3")) << name;
    const std::string kept =
        name.substr(0, name.size() - std::string("_128kbps-44kHz-Stereo.mp3").size());
    EXPECT_EQ(kept.size() % 2, 0u);
    EXPECT_EQ(base.compare(0, kept.size(), kept), 0);
    // A copy number is kept like the suffix.
    const std::string copy = MakeOutputName(KindAvi, base + ".wav", "_converted", 12);
    EXPECT_LE(copy.size(), kMaxOutputNameBytes);
    EXPECT_TRUE(copy.ends_with("_converted (12).avi")) << copy;
    EXPECT_EQ(MakeOutputName(KindAvi, "a.wav", "_converted", 2), "a_converted (2).avi");
}

TEST(OutputName, DestinationWithOrWithoutTrailingSeparator) {
    EXPECT_EQ(JoinDestination("/tmp/out", "a.avi"), "/tmp/out/a.avi");
    EXPECT_EQ(JoinDestination("/tmp/out/", "a.avi"), "/tmp/out/a.avi");
}

TEST(OutputFolder, CreatesOneLevelAndReportsTheSystemError) {
    QTemporaryDir temp;
    const std::string root = temp.path().toStdString();
    EXPECT_EQ(CreateOutputFolder(root + "/new"), S_OK);
    EXPECT_TRUE(QDir(temp.path() + "/new").exists());
    // Missing parents are not created: ENOENT (2) comes back as 0x80070002.
    EXPECT_EQ(CreateOutputFolder(root + "/missing/child"), MakeResult(0x80070002u));
    EXPECT_FALSE(QDir(temp.path() + "/missing").exists());
    EXPECT_EQ(ResultFromErrno(0), 0);
    EXPECT_EQ(ResultFromErrno(0x12345), MakeResult(0x80072345u));
}

TEST(OutputName, AudioSuffixOnlyForWavMp3WithAFormat) {
    ConversionSettings settings;
    settings.fileNameSuffix = "_128kbps-44kHz-Stereo";
    EXPECT_EQ(OutputSuffixFor(settings), "_converted");
    settings.outputFormat = WavMp3;
    EXPECT_EQ(OutputSuffixFor(settings), "_128kbps-44kHz-Stereo");
    EXPECT_EQ(OutputKindFor(settings), KindWav);
    settings.audio.formatTag = kFormatTagMp3;
    EXPECT_EQ(OutputKindFor(settings), KindMp3);
    // Uncompressed output has no format text to put in the name.
    settings.fileNameSuffix = "No settings";
    EXPECT_EQ(OutputSuffixFor(settings), "_converted");
    settings.fileNameSuffix.clear();
    EXPECT_EQ(OutputSuffixFor(settings), "_converted");
}
