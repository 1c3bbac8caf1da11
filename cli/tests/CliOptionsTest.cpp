#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "CliOptions.h"
#include "CliView.h"

namespace {

bool Parse(std::vector<std::string> args, CliOptions& options, std::string& error) {
    options = {};
    error.clear();
    return ParseCliOptions(args, options, error);
}

}  // namespace

TEST(CliOptions, TakesEveryOptionWithSpaceOrEquals) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(
        Parse({"--format=mpeg", "--out", "/tmp/o", "--mpeg-type", "MPEG-1", "--standard=NTSC",
               "--width", "352", "--height=240", "--fps", "29.97", "a.avi", "--", "--odd.avi"},
              o, error))
        << error;
    EXPECT_EQ(o.format, Mpeg);
    EXPECT_EQ(o.outputFolder, "/tmp/o");
    EXPECT_EQ(o.mpegType, "MPEG-1");
    EXPECT_EQ(o.standard, "NTSC");
    EXPECT_EQ(o.width, "352");
    EXPECT_EQ(o.height, "240");
    EXPECT_EQ(o.frameRate, "29.97");
    EXPECT_EQ(o.files, (std::vector<std::string>{"a.avi", "--odd.avi"}));

    ASSERT_TRUE(Parse(
        {"--format", "wav", "--audio-encoder", "_Uncompressed_", "--audio-format", "3", "x.mp3"}, o,
        error));
    EXPECT_EQ(o.format, WavMp3);
    EXPECT_EQ(o.audioFormat, 3);
    EXPECT_FALSE(o.width.has_value());

    // Listing and help need no files.
    ASSERT_TRUE(Parse({"--list-audio-formats", "Lame MP3 encoder"}, o, error));
    EXPECT_EQ(o.listAudioFormats, "Lame MP3 encoder");
    ASSERT_TRUE(Parse({"--help"}, o, error));
}

TEST(CliOptions, RefusesWhatTheDialogWouldNotOffer) {
    CliOptions o;
    std::string error;
    const std::vector<std::vector<std::string>> bad = {
        {},                                           // no files
        {"--format", "mkv", "a.avi"},                 // unknown format
        {"--width", "100", "a.avi"},                  // not in the width list
        {"--fps", "8", "--format", "mpeg", "a.avi"},  // AVI-only rate
        {"--format", "mpeg", "--mpeg-type", "DVD", "--width", "352", "a.avi"},  // fixed by the type
        {"--format", "wav", "--width", "320", "a.wav"},  // no video in WAV/MP3
        {"--mpeg-type", "VCD", "a.avi"},                 // MPEG option with AVI
        {"--audio-format", "-1", "a.avi"},
        {"--audio-format", "2x", "a.avi"},
        {"--out"},  // missing value
        {"--help=yes"},
        {"--verbose", "a.avi"},
    };
    for (const auto& args : bad) {
        EXPECT_FALSE(Parse(args, o, error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CliInterruptDeathTest, AStopNothingHonoursStillEndsTheProgram) {
    // Stuck where no events are pumped: the signal's exit code after the grace period.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : {SIGTERM, SIGINT}) {
        EXPECT_EXIT(
            {
                CCliView::InstallInterruptHandler(1);
                std::raise(signal);
                for (;;) pause();
            },
            ::testing::ExitedWithCode(128 + signal), "")
            << signal;
    }
}
