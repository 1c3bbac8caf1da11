#include <gtest/gtest.h>

#include "AudioFormatChooser.h"

namespace {

WaveFormat Format(std::uint32_t rate, std::uint32_t byteRate, std::uint16_t channels = 2,
                  std::uint16_t tag = kFormatTagMp3) {
    WaveFormat f;
    f.formatTag = tag;
    f.samplesPerSec = rate;
    f.avgBytesPerSec = byteRate;
    f.channels = channels;
    return f;
}

// A chooser whose encoder offers a fixed list.
class FixedChooser : public CAudioFormatChooser {
public:
    explicit FixedChooser(std::vector<WaveFormat> list) : m_list(std::move(list)) {}
    HRESULT LoadFormatList() override {
        formats = m_list;
        return formats.empty() ? E_FAIL : S_OK;
    }

private:
    std::vector<WaveFormat> m_list;
};

AudioParams Source(std::uint32_t rate, std::int32_t formatIndex = -1) {
    AudioParams audio;
    audio.sampleRate = rate;
    audio.formatIndex = formatIndex;
    return audio;
}

}  // namespace

TEST(ChooseInitialFormat, LaterCandidateRaisesTheByteRateBarWithoutBeingChosen) {
    FixedChooser chooser({Format(44100, 16000, 2, kFormatTagMp3), Format(22050, 20000),
                          Format(44100, 18000, 2, kFormatTagPcm)});
    AudioParams audio = Source(44100);
    chooser.ChooseInitialFormat({}, audio);
    EXPECT_EQ(chooser.position, 0);
    ASSERT_TRUE(chooser.chosen);
    EXPECT_EQ(chooser.chosen->avgBytesPerSec, 16000u);
    EXPECT_EQ(audio.formatTag, kFormatTagMp3);
}

TEST(ChooseInitialFormat, HigherRateAndByteRateWinsAndSubRatesQualify) {
    // 7350 = 44100 / 6 qualifies on its own; later 44100 with more bytes replaces it.
    FixedChooser single({Format(7350, 1000, 1, kFormatTagALaw)});
    AudioParams audio = Source(44100);
    single.ChooseInitialFormat({}, audio);
    EXPECT_EQ(single.position, 0);
    EXPECT_EQ(audio.formatTag, kFormatTagALaw);

    FixedChooser several({Format(48000, 90000), Format(11025, 4000), Format(44100, 8000),
                          Format(44100, 32000, 1, kFormatTagPcm), Format(22050, 40000)});
    audio = Source(44100);
    several.ChooseInitialFormat({}, audio);
    EXPECT_EQ(several.position, 3);  // 22050 has more bytes but a lower rate than 44100
    EXPECT_EQ(audio.formatTag, kFormatTagPcm);
}

TEST(ChooseInitialFormat, NoCandidateFallsBackToTheFirstEntry) {
    FixedChooser chooser({Format(32000, 8000, 2, kFormatTagAc3), Format(32000, 16000)});
    AudioParams audio = Source(48000);
    chooser.ChooseInitialFormat({}, audio);
    EXPECT_EQ(chooser.position, 0);
    EXPECT_EQ(audio.formatTag, kFormatTagAc3);
}

TEST(ChooseInitialFormat, RememberedPositionIsHonouredOnlyInsideTheListAndAboveZero) {
    std::vector<WaveFormat> four = {Format(44100, 40000), Format(44100, 20000), Format(22050, 8000),
                                    Format(8000, 1000, 1, kFormatTagMuLaw)};
    FixedChooser remembered(four);
    AudioParams audio = Source(44100, 3);
    remembered.ChooseInitialFormat({}, audio);
    EXPECT_EQ(remembered.position, 3);
    EXPECT_EQ(audio.formatTag, kFormatTagMuLaw);

    FixedChooser tooShort({four[1], four[0], four[2]});
    audio = Source(44100, 3);
    tooShort.ChooseInitialFormat({}, audio);
    EXPECT_EQ(tooShort.position, 1);  // automatic: 40000 bytes at 44100

    FixedChooser zero(four);
    audio = Source(8000, 0);
    zero.ChooseInitialFormat({}, audio);
    EXPECT_EQ(zero.position, 3);  // 0 means "choose for me"
}

TEST(ChooseInitialFormat, EmptyListKeepsPositionAndClearsTheTag) {
    FixedChooser chooser({});
    AudioParams audio = Source(44100, 2);
    audio.formatTag = kFormatTagMp3;  // left from an earlier MP3 choice
    chooser.ChooseInitialFormat({}, audio);
    EXPECT_EQ(chooser.position, 2);
    EXPECT_FALSE(chooser.chosen);
    EXPECT_EQ(audio.formatTag, kFormatTagNone);
    EXPECT_EQ(audio.formatIndex, 2);
}

TEST(FormatTexts, DescriptionAndSuffixOfPositions) {
    FixedChooser chooser({Format(44100, 176400, 2, kFormatTagPcm), Format(22050, 16000, 1),
                          Format(44100, 16000, 2)});
    AudioParams audio = Source(44100, 2);
    chooser.ChooseInitialFormat({}, audio);
    EXPECT_EQ(chooser.DescribeFormat(0), "1411 kb/sec -- 44 kHz -- Stereo");
    EXPECT_EQ(chooser.DescribeFormat(1), "128 kb/sec -- 22 kHz -- Mono");
    EXPECT_EQ(chooser.DescribeFormat(), "128 kb/sec -- 44 kHz -- Stereo");
    EXPECT_EQ(chooser.DescribeFormat(7), chooser.DescribeFormat(0));
    EXPECT_EQ(chooser.FormatSuffix(), "_128kbps-44kHz-Stereo");

    chooser.position = 9;  // outside: reset to the first entry
    EXPECT_EQ(chooser.FormatSuffix(), "_1411kbps-44kHz-Stereo");
    EXPECT_EQ(chooser.position, 0);
}

TEST(FormatTexts, EmptyListSaysNoSettings) {
    FixedChooser chooser({});
    AudioParams audio = Source(44100);
    chooser.ChooseInitialFormat({}, audio);
    EXPECT_EQ(chooser.DescribeFormat(), "No settings");
    EXPECT_EQ(chooser.FormatSuffix(), "No settings");
}
