#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "TestMedia.h"

using namespace testmedia;

// The generated clips are what every media test stands on: check that each kind really has the
// streams and formats its name promises, as ffprobe reads them.
TEST(TestMedia, GeneratedClipsHaveThePromisedStreams) {
    QTemporaryDir dir;
    const QString avi = MakeClip(Kind::AviMpeg4Mp3, dir.path(), 1.0);
    ProbeResult p = Probe(avi);
    ASSERT_TRUE(p.ok) << avi.toStdString();
    EXPECT_EQ(p.formatName, "avi");
    EXPECT_EQ(p.videoCodec, "mpeg4");
    EXPECT_EQ(p.width, 320);
    EXPECT_DOUBLE_EQ(p.frameRate, 25.0);
    EXPECT_EQ(p.audioCodec, "mp3");
    EXPECT_NEAR(p.duration, 1.0, 0.1);

    p = Probe(MakeClip(Kind::WavMono22k, dir.path(), 1.0));
    EXPECT_EQ(p.audioCodec, "pcm_s16le");
    EXPECT_EQ(p.sampleRate, 22050);
    EXPECT_EQ(p.channels, 1);
    EXPECT_TRUE(p.videoCodec.isEmpty());

    p = Probe(MakeClip(Kind::Vob, dir.path(), 1.0));
    EXPECT_EQ(p.videoCodec, "mpeg2video");
    EXPECT_EQ(p.audioCodec, "ac3");
}

TEST(TestMedia, ProbeOfAMissingFileIsNotOk) {
    EXPECT_FALSE(Probe("/nonexistent/file.avi").ok);
    EXPECT_FALSE(DecodesCleanly("/nonexistent/file.avi"));
}
