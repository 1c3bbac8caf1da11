#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>

#include "AudioFormatChooser.h"
#include "EncoderDiscovery.h"
#include "GstPtr.h"
#include "MediaFramework.h"
#include "TestMedia.h"

namespace {

class AudioFormatListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }
};

const WaveFormat* Find(const std::vector<WaveFormat>& list, std::uint32_t rate,
                       std::uint16_t channels, std::uint32_t bytes) {
    auto it = std::find_if(list.begin(), list.end(), [&](const WaveFormat& f) {
        return f.samplesPerSec == rate && f.channels == channels && f.avgBytesPerSec == bytes;
    });
    return it == list.end() ? nullptr : &*it;
}

// Encodes a second of tone with a fresh encoder set up as the format says into path.
bool EncodeWith(const char* factory, const WaveFormat& format, const QString& path) {
    GstElementPtr pipeline(gst_pipeline_new("format-check"));
    GstElement* src = gst_element_factory_make("audiotestsrc", nullptr);
    GstElement* raw = gst_element_factory_make("capsfilter", nullptr);
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* encoder = gst_element_factory_make(factory, nullptr);
    GstElement* coded = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("filesink", nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src, raw, convert, encoder, coded, sink, nullptr);
    g_object_set(src, "num-buffers", 43, nullptr);  // 43 x 1024 samples: 1 s at 44.1 kHz
    GstCapsPtr rawCaps(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT,
                                           int(format.samplesPerSec), "channels", G_TYPE_INT,
                                           int(format.channels), nullptr));
    g_object_set(raw, "caps", rawCaps.get(), nullptr);
    GstCapsPtr codedCaps(gst_caps_from_string(format.encoderCaps.c_str()));
    g_object_set(coded, "caps", codedCaps.get(), nullptr);
    for (const auto& [name, value] : format.encoderProperties)
        gst_util_set_object_arg(G_OBJECT(encoder), name.c_str(), value.c_str());
    g_object_set(sink, "location", path.toUtf8().constData(), nullptr);
    if (!gst_element_link_many(src, raw, convert, encoder, coded, sink, nullptr)) return false;
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBusPtr bus(gst_element_get_bus(pipeline.get()));
    GstMessagePtr end(gst_bus_timed_pop_filtered(
        bus.get(), 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return end && GST_MESSAGE_TYPE(end.get()) == GST_MESSAGE_EOS;
}

}  // namespace

TEST_F(AudioFormatListTest, Mp3FormatsAreOrderedTaggedAndReallyGiveTheirBitRate) {
    std::vector<WaveFormat> mp3 = EncoderFormats(EncoderCategory::WavAudio, "lamemp3enc");
    ASSERT_FALSE(mp3.empty());
    EXPECT_TRUE(std::all_of(mp3.begin(), mp3.end(),
                            [](const WaveFormat& f) { return f.formatTag == kFormatTagMp3; }));
    // Stable order: rate descending, stereo before mono, bit rate descending.
    EXPECT_TRUE(std::is_sorted(mp3.begin(), mp3.end(), [](const auto& a, const auto& b) {
        return std::tuple(b.samplesPerSec, b.channels, b.avgBytesPerSec) <
               std::tuple(a.samplesPerSec, a.channels, a.avgBytesPerSec);
    }));
    EXPECT_EQ(mp3.front().samplesPerSec, 48000u);

    const WaveFormat* f128 = Find(mp3, 44100, 2, 16000);
    ASSERT_NE(f128, nullptr);
    QTemporaryDir dir;
    const QString path = dir.filePath("f128.mp3");
    ASSERT_TRUE(EncodeWith("lamemp3enc", *f128, path));
    testmedia::ProbeResult probe = testmedia::Probe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.audioCodec, "mp3");
    EXPECT_EQ(probe.sampleRate, 44100);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_EQ(probe.audioBitRate, 128000);

    const WaveFormat* low = Find(mp3, 22050, 1, 4000);
    ASSERT_NE(low, nullptr);
    const QString lowPath = dir.filePath("f32.mp3");
    ASSERT_TRUE(EncodeWith("lamemp3enc", *low, lowPath));
    probe = testmedia::Probe(lowPath);
    EXPECT_EQ(probe.sampleRate, 22050);
    EXPECT_EQ(probe.channels, 1);
    EXPECT_EQ(probe.audioBitRate, 32000);
}

TEST_F(AudioFormatListTest, PairsAnEncoderRefusesAreDropped) {
    // MPEG-1 layer II has no 80 kb/s stereo and no mono above 192 kb/s; twolame refuses them.
    std::vector<WaveFormat> mp2 = EncoderFormats(EncoderCategory::AviAudio, "twolamemp2enc");
    ASSERT_FALSE(mp2.empty());
    EXPECT_TRUE(Find(mp2, 44100, 2, 24000));
    EXPECT_TRUE(Find(mp2, 44100, 1, 24000));
    EXPECT_FALSE(Find(mp2, 44100, 2, 10000));
    EXPECT_FALSE(Find(mp2, 44100, 1, 48000));
    EXPECT_TRUE(std::all_of(mp2.begin(), mp2.end(),
                            [](const WaveFormat& f) { return f.formatTag == kFormatTagMpeg; }));
}

// The block codings the WAV writer stores: each listed format carries its wave tag, its block
// size and the byte rate its blocks give, which the picker's text and the file suffix show.
TEST_F(AudioFormatListTest, BlockCodedWaveFormatsCarryTheirBlockLayout) {
    struct Case {
        const char* factory;
        std::uint32_t rate;
        std::uint16_t channels;
        std::uint16_t tag, blockAlign;
        std::uint32_t bytes;
        const char* suffix;
    };
    const Case cases[] = {
        {"adpcmenc", 44100, 2, 0x0011, 1024, 44100 * 1024 / 1017, "_355kbps-44kHz-Stereo"},
        {"avenc_adpcm_ms", 22050, 1, 0x0002, 1024, 22050 * 1024 / 2036, "_88kbps-22kHz-Mono"},
        {"gsmenc", 8000, 1, 0x0031, 65, 1625, "_13kbps-8kHz-Mono"},
        {"twolamemp2enc", 48000, 2, kFormatTagMpeg, 1, 24000, "_192kbps-48kHz-Stereo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.factory);
        if (!HasElementFactory(c.factory)) continue;
        std::vector<WaveFormat> list = EncoderFormats(EncoderCategory::WavAudio, c.factory);
        const WaveFormat* f = Find(list, c.rate, c.channels, c.bytes);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->formatTag, c.tag);
        EXPECT_EQ(f->blockAlign, c.blockAlign);
        CAudioFormatChooser chooser(EncoderCategory::WavAudio);
        chooser.formats = list;
        chooser.position = static_cast<int>(f - list.data());
        EXPECT_EQ(chooser.FormatSuffix(), c.suffix);
    }
}

TEST_F(AudioFormatListTest, ChooserPicksTheRichestFormatAtTheSourceRate) {
    ElementRef alaw = CreateFilterByName(EncoderCategory::WavAudio, "A Law audio encoder");
    ASSERT_TRUE(alaw);
    CAudioFormatChooser chooser(EncoderCategory::WavAudio);
    AudioParams audio;
    audio.sampleRate = 44100;
    chooser.ChooseInitialFormat(alaw, audio);
    ASSERT_TRUE(chooser.chosen);
    EXPECT_EQ(audio.formatTag, kFormatTagALaw);
    EXPECT_EQ(chooser.chosen->samplesPerSec, 44100u);
    EXPECT_EQ(chooser.chosen->blockAlign, 2);
    EXPECT_EQ(chooser.chosen->bitsPerSample, 8);
    EXPECT_EQ(chooser.DescribeFormat(), "705 kb/sec -- 44 kHz -- Stereo");
    EXPECT_EQ(chooser.FormatSuffix(), "_705kbps-44kHz-Stereo");

    ElementRef lame = CreateFilterByName(EncoderCategory::WavAudio, "L.A.M.E. mp3 encoder");
    CAudioFormatChooser mp3(EncoderCategory::WavAudio);
    audio.sampleRate = 22050;
    mp3.ChooseInitialFormat(lame, audio);
    EXPECT_EQ(audio.formatTag, kFormatTagMp3);
    EXPECT_EQ(mp3.DescribeFormat(), "160 kb/sec -- 22 kHz -- Stereo");

    CAudioFormatChooser none(EncoderCategory::WavAudio);
    none.ChooseInitialFormat({}, audio);
    EXPECT_EQ(none.LoadFormatList(), E_FAIL);
    EXPECT_EQ(audio.formatTag, kFormatTagNone);
    EXPECT_EQ(none.DescribeFormat(), "No settings");
}
