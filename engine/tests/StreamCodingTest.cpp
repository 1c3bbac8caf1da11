#include <gtest/gtest.h>

#include "MediaFramework.h"
#include "StreamCoding.h"

namespace {

struct Caps {
    explicit Caps(const char* text) : caps(gst_caps_from_string(text)) {}
    ~Caps() { gst_caps_unref(caps); }
    GstCaps* caps;
};

std::string Video(const char* text, std::optional<std::uint32_t> header = std::nullopt) {
    return VideoCodingText(Caps(text).caps, header);
}

AudioCoding Audio(const char* text, const char* parsed = nullptr, bool mpeg2 = false) {
    if (!parsed) return DescribeAudio(Caps(text).caps, nullptr, mpeg2);
    return DescribeAudio(Caps(text).caps, Caps(parsed).caps, mpeg2);
}

constexpr std::uint32_t Code(const char (&t)[5]) {
    return t[0] | (t[1] << 8) | (t[2] << 16) | (static_cast<std::uint32_t>(t[3]) << 24);
}

}  // namespace

TEST(StreamCoding, VideoHeaderCodeWinsThenMpegVersionThenCapsCode) {
    ASSERT_EQ(InitMediaFramework(), S_OK);
    EXPECT_EQ(Video("video/mpeg, mpegversion=4", Code("XVID")), "XVID");
    EXPECT_EQ(Video("video/x-raw, format=BGR", 0u), "");                  // BI_RGB
    EXPECT_EQ(Video("video/x-raw, format=BGRx", 3u), "");                 // BI_BITFIELDS
    EXPECT_EQ(Video("video/mpeg, mpegversion=1", Code("mpg1")), "mpg1");  // AVI names it itself
    EXPECT_EQ(Video("video/mpeg, mpegversion=1, systemstream=false"), "MPEG1");
    EXPECT_EQ(Video("video/mpeg, mpegversion=2, systemstream=false"), "MPEG2");
    EXPECT_EQ(Video("video/x-wmv, wmvversion=3, format=WVC1"), "WVC1");
    EXPECT_EQ(Video("video/x-avi-unknown, fourcc=(uint)0x31435641"), "AVC1");
    EXPECT_EQ(Video("video/x-h264, stream-format=avc"), "H264");
    EXPECT_EQ(Video("video/x-raw, format=I420, width=8, height=8"), "I420");
    EXPECT_EQ(Video("video/x-raw, format=RGB, width=8, height=8"), "");
    EXPECT_EQ(Video("video/x-something-new"), "Unknown");
}

TEST(StreamCoding, AudioTextsAndParameters) {
    ASSERT_EQ(InitMediaFramework(), S_OK);
    AudioCoding pcm = Audio("audio/x-raw, format=U8, layout=interleaved, rate=11025, channels=2");
    EXPECT_EQ(pcm.text, "PCM");
    EXPECT_EQ(pcm.params, (AudioParams{11025, 8, 0, 0xFFFF, -1}));

    // MPEG audio from a program stream: the rate comes from the parser behind the demuxer.
    AudioCoding mp2 = Audio("audio/mpeg, mpegversion=1, layer=2",
                            "audio/mpeg, mpegversion=1, layer=2, rate=48000, channels=1", true);
    EXPECT_EQ(mp2.text, "MPEG2");
    EXPECT_EQ(mp2.params, (AudioParams{48000, 0, 1, 0xFFFF, -1}));
    EXPECT_EQ(Audio("audio/mpeg, mpegversion=1, layer=2", nullptr, false).text, "MPEG1");
    EXPECT_EQ(Audio("audio/mpeg, mpegversion=1, layer=3", nullptr, true).text, "MP3");
    EXPECT_EQ(Audio("audio/mpeg, mpegversion=4, rate=44100, channels=2").text, "Unknown");
    EXPECT_EQ(Audio("audio/x-wma, wmaversion=2, depth=16, rate=32000, channels=2").params,
              (AudioParams{32000, 16, 0, 0xFFFF, -1}));
    EXPECT_EQ(Audio("audio/x-adpcm, layout=microsoft, rate=8000, channels=1").text, "ADPCM");
    EXPECT_EQ(Audio("audio/x-adpcm, layout=dvi, rate=8000, channels=1").text, "IMA ADPCM");
    EXPECT_EQ(Audio("audio/x-adpcm, layout=g726, rate=8000, channels=1").text, "Unknown");
    const AudioCoding lpcm = Audio("audio/x-private1-lpcm");
    EXPECT_EQ(lpcm.text, "DVD_LPCM");
    EXPECT_FALSE(lpcm.hasParams);
}
