#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "EngineTestSupport.h"

using namespace enginetest;
using testmedia::Kind;

namespace {

TEST(TimelineArithmetic, VideoFormatRowSizeImageSizeAndFrameTime) {
    const auto f = timeline::MakeVideoFormat(320, 240, 25);
    EXPECT_EQ(f.rowSize, 960);
    EXPECT_EQ(f.imageSize, 230400);
    EXPECT_EQ(f.avgTimePerFrame, 400000);
    EXPECT_EQ(f.frameRate, (timeline::Fraction{25, 1}));

    // Rows are padded to whole 32-bit words; a bottom-up negative height counts by magnitude.
    EXPECT_EQ(timeline::RowSize(321), 964);
    EXPECT_EQ(timeline::RowSize(1), 4);
    EXPECT_EQ(timeline::MakeVideoFormat(321, -10, 25).imageSize, 9640);
}

TEST(TimelineArithmetic, NtscRatesAreExactFractions) {
    const auto ntsc = timeline::MakeVideoFormat(720, 480, 29.97);
    EXPECT_EQ(ntsc.avgTimePerFrame, 333667);
    EXPECT_EQ(ntsc.frameRate, (timeline::Fraction{30000, 1001}));
    const auto film = timeline::MakeVideoFormat(720, 480, 23.976);
    EXPECT_EQ(film.avgTimePerFrame, 417083);
    EXPECT_EQ(film.frameRate, (timeline::Fraction{24000, 1001}));
    EXPECT_EQ(timeline::FrameRateFraction(59.94), (timeline::Fraction{60000, 1001}));
    // Plain rates stay plain, including ones near an NTSC rate.
    EXPECT_EQ(timeline::FrameRateFraction(30), (timeline::Fraction{30, 1}));
    EXPECT_EQ(timeline::FrameRateFraction(24), (timeline::Fraction{24, 1}));
    EXPECT_EQ(timeline::FrameRateFraction(12.5), (timeline::Fraction{25, 2}));
    EXPECT_EQ(timeline::FrameRateFraction(0), (timeline::Fraction{0, 1}));
}

TEST(TimelineArithmetic, AudioBlockAlignAndByteRate) {
    const auto stereo = timeline::MakeAudioFormat(AudioParams{44100, 16, 0, kFormatTagNone, -1});
    EXPECT_EQ(stereo.channels, 2);
    EXPECT_EQ(stereo.blockAlign, 4);
    EXPECT_EQ(stereo.avgBytesPerSec, 176400u);
    const auto mono8 = timeline::MakeAudioFormat(AudioParams{8000, 8, 1, kFormatTagNone, -1});
    EXPECT_EQ(mono8.blockAlign, 1);
    EXPECT_EQ(mono8.avgBytesPerSec, 8000u);
    EXPECT_STREQ(timeline::RawAudioFormatName(8), "U8");
}

class Composition : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }
    QTemporaryDir m_dir;
};

TEST_F(Composition, VideoGroupComesFirstWithTwoTracksAndBothSpanTheClip) {
    const QString path = testmedia::MakeClip(Kind::AviMjpegPcm, m_dir.path());
    const CProjectItem clip = ClipFor(path);
    CConversionEngine engine;
    ASSERT_EQ(engine.AddGroup(MediaKind::Video, 1), S_OK);
    ASSERT_EQ(engine.AddSource(MediaKind::Video, clip.GetPath(), 0, clip.GetMediaStop(), 0), S_OK);
    ASSERT_EQ(engine.AddGroup(MediaKind::Audio, 1), S_OK);
    ASSERT_EQ(engine.AddSource(MediaKind::Audio, clip.GetPath(), 0, clip.GetMediaStop(), 0), S_OK);
    // A second request for an existing group changes nothing.
    EXPECT_EQ(engine.AddGroup(MediaKind::Video, 1), S_OK);

    EXPECT_EQ(engine.GroupOrder(), (std::vector<MediaKind>{MediaKind::Video, MediaKind::Audio}));
    EXPECT_EQ(engine.TrackCount(MediaKind::Video), 2);
    EXPECT_EQ(engine.TrackCount(MediaKind::Audio), 1);
    RefTime duration = 0;
    ASSERT_EQ(engine.GetTimelineDuration(&duration), S_OK);
    EXPECT_NEAR(double(duration), double(clip.GetMediaStop()), 0.01 * kRefTimePerSecond);
}

TEST_F(Composition, SourcesAreCutToTheFileAndBadFilesAreRefused) {
    const QString path = testmedia::MakeClip(Kind::WavPcm, m_dir.path());
    CConversionEngine engine;
    ASSERT_EQ(engine.AddGroup(MediaKind::Audio, 1), S_OK);
    // A media stop past the end of the file is cut to the file's length.
    ASSERT_EQ(engine.AddSource(MediaKind::Audio, path.toStdString(), 0, 10 * kRefTimePerSecond, 0),
              S_OK);
    RefTime duration = 0;
    engine.GetTimelineDuration(&duration);
    EXPECT_NEAR(double(duration), 2.0 * kRefTimePerSecond, 0.01 * kRefTimePerSecond);

    QFile text(m_dir.filePath("notes.avi"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a media file\n");
    text.close();
    CConversionEngine other;
    ASSERT_EQ(other.AddGroup(MediaKind::Audio, 1), S_OK);
    EXPECT_TRUE(FAILED(
        other.AddSource(MediaKind::Audio, text.fileName().toStdString(), 0, kRefTimePerSecond, 0)));
    EXPECT_FALSE(other.FailureText().empty());
    other.GetTimelineDuration(&duration);
    EXPECT_EQ(duration, 0);
    EXPECT_EQ(other.AddSource(MediaKind::Video, path.toStdString(), 0, kRefTimePerSecond, 0),
              E_FAIL);  // no group
}

TEST_F(Composition, GroupFormatsFollowTheParameters) {
    CConversionEngine engine;
    // Without groups both setters succeed without effect.
    EXPECT_EQ(engine.SetVideoParams(320, 240, 25), S_OK);
    EXPECT_FALSE(engine.VideoGroupFormat());
    ASSERT_EQ(engine.AddGroup(MediaKind::Video, 0), S_OK);
    ASSERT_EQ(engine.AddGroup(MediaKind::Audio, 0), S_OK);
    ASSERT_EQ(engine.SetVideoParams(720, 480, 29.97), S_OK);
    EXPECT_EQ(engine.VideoGroupFormat()->avgTimePerFrame, 333667);
    EXPECT_EQ(engine.Width(), 720);
    ASSERT_EQ(engine.SetAudioParams(AudioParams{22050, 16, 1, kFormatTagNone, -1}), S_OK);
    EXPECT_EQ(engine.AudioGroupFormat()->blockAlign, 2);
    // Sizes the PCM formats cannot carry are refused and leave the format as it was.
    EXPECT_EQ(engine.SetAudioParams(AudioParams{22050, 12, 1, kFormatTagNone, -1}), E_INVALIDARG);
    EXPECT_EQ(engine.AudioGroupFormat()->samplesPerSec, 22050u);
}

struct SilentView : IConversionView {
    IPreviewPane* PreviewPane() override { return nullptr; }
    INotifyTarget* NotifyTarget() override { return nullptr; }
};

TEST(HostSettings, AudioSettingsBecomePcmGroupFormats) {
    SilentView view;
    CConversionHost host(view);

    ConversionSettings mpeg = SettingsFor(Mpeg);
    mpeg.audioFormat = Pcm(22050, 1);
    mpeg.audio.formatTag = kFormatTagMp3;
    host.ApplyAudioSettings(mpeg);
    EXPECT_EQ(mpeg.audio.sampleRate, 48000u);
    EXPECT_EQ(mpeg.audio.bitsPerSample, 16);
    EXPECT_EQ(mpeg.audio.mono, 0);
    EXPECT_EQ(mpeg.audio.formatTag, kFormatTagMp3);  // not touched

    ConversionSettings adpcm = SettingsFor(WavMp3);
    WaveFormat fourBit = Pcm(11025, 1);
    fourBit.bitsPerSample = 4;
    adpcm.audioFormat = fourBit;
    host.ApplyAudioSettings(adpcm);
    EXPECT_EQ(adpcm.audio.sampleRate, 11025u);
    EXPECT_EQ(adpcm.audio.bitsPerSample, 16);
    EXPECT_EQ(adpcm.audio.mono, 1);

    ConversionSettings none = SettingsFor(Avi);
    host.ApplyAudioSettings(none);
    EXPECT_EQ(none.audio.sampleRate, 48000u);

    // Without an engine the video settings have nowhere to go.
    EXPECT_EQ(host.ApplyVideoSettings(none), E_FAIL);
}

}  // namespace
