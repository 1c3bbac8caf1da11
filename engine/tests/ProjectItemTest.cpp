#include <gtest/gtest.h>

#include "ProjectItem.h"

TEST(ProjectItem, StartsEmptyWithNoAudioFormatAndNeverConverted) {
    CProjectItem clip;
    EXPECT_EQ(clip.GetProgress(), -1);
    EXPECT_EQ(clip.GetDuration(), 0);
    EXPECT_EQ(clip.GetMediaStart(), 0);
    EXPECT_EQ(clip.GetMediaStop(), 0);
    EXPECT_FALSE(clip.GetListPos().has_value());
    const AudioParams params = clip.GetAudioParams();
    EXPECT_EQ(params.sampleRate, 0u);
    EXPECT_EQ(params.bitsPerSample, 0u);
    EXPECT_EQ(params.mono, 0);
    EXPECT_EQ(params.formatTag, 0xFFFF);
    EXPECT_EQ(params.formatIndex, -1);
    EXPECT_EQ(clip.FrameSizeText(), "0x0");
    clip.SetSize(320, 240);
    EXPECT_EQ(clip.FrameSizeText(), "320x240");
}

TEST(ProjectItem, FormatDurationSplitsWholeSeconds) {
    EXPECT_EQ(FormatDuration(0), "0:00:00");
    EXPECT_EQ(FormatDuration(59), "0:00:59");
    EXPECT_EQ(FormatDuration(3725), "1:02:05");
    EXPECT_EQ(FormatDuration(3599), "0:59:59");
    EXPECT_EQ(FormatDuration(36000), "10:00:00");
    // Hours beyond 32 bits' worth of seconds still print in full.
    EXPECT_EQ(FormatDuration(std::int64_t{3600} * 3'000'000'000 + 61), "3000000000:01:01");
    // The clip list passes truncated whole seconds: 59.9 s shows as 59.
    EXPECT_EQ(FormatDuration(599'000'000 / kRefTimePerSecond), "0:00:59");
}
