// End-to-end runs of "WAV Writer Filter": generated audio in, the file checked by ffprobe and by
// reading its RIFF header.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <string>

#include "GstPtr.h"
#include "MediaFramework.h"
#include "TestMedia.h"
#include "WriterPipeline.h"

using namespace writertest;

namespace {

class WavWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitMediaFramework(), S_OK);
        ASSERT_TRUE(HasElementFactory("kestrinwavwriter"));
        ASSERT_TRUE(m_dir.isValid());
    }

    // audiotestsrc -> caps -> converters -> writer, run to the end.
    RunResult Write(const QString& path, int buffers, const char* caps, const char* converters) {
        GstElementPtr pipeline(gst_pipeline_new("test"));
        GstElement* writer = gst_element_factory_make("kestrinwavwriter", "writer");
        g_object_set(writer, "location", path.toUtf8().constData(), nullptr);
        gst_bin_add(GST_BIN(pipeline.get()), writer);
        if (!AddBranch(pipeline.get(), "audiotestsrc samplesperbuffer=441", buffers, caps,
                       converters, writer, "sink"))
            return {false, "cannot link", -1};
        return RunToEnd(pipeline.get());
    }

    QTemporaryDir m_dir;
};

// What the framework's own WAV reader makes of a file: the caps of its output and the duration.
struct ParsedWav {
    std::string caps;
    std::string media;
    int rate = 0, channels = 0;
    double duration = -1;  // seconds
};

ParsedWav ParseWithWavparse(const QString& path) {
    ParsedWav parsed;
    GError* rawError = nullptr;
    const std::string description =
        "filesrc location=\"" + path.toStdString() + "\" ! wavparse name=parse ! fakesink";
    GstElementPtr pipeline(gst_parse_launch(description.c_str(), &rawError));
    GErrorPtr error(rawError);
    if (!pipeline) return parsed;
    gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
    if (gst_element_get_state(pipeline.get(), nullptr, nullptr, 10 * GST_SECOND) ==
        GST_STATE_CHANGE_SUCCESS) {
        gint64 duration = -1;
        if (gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &duration))
            parsed.duration = duration / 1e9;
        GstElementPtr parse(gst_bin_get_by_name(GST_BIN(pipeline.get()), "parse"));
        GstPadPtr src(gst_element_get_static_pad(parse.get(), "src"));
        GstCapsPtr caps(gst_pad_get_current_caps(src.get()));
        if (caps) {
            GCharPtr text(gst_caps_to_string(caps.get()));
            parsed.caps = text.get();
            const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
            parsed.media = gst_structure_get_name(s);
            gst_structure_get_int(s, "rate", &parsed.rate);
            gst_structure_get_int(s, "channels", &parsed.channels);
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return parsed;
}

struct ChunkInfo {
    quint32 riffSize = 0;
    quint32 dataSize = 0;
    qint64 dataOffset = -1;
    quint16 formatTag = 0;
    quint16 blockAlign = 0;
};

// Walks the RIFF chunks of a WAV file.
ChunkInfo ReadChunks(const QString& path) {
    ChunkInfo info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return info;
    QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF")) return info;
    info.riffSize = qFromLittleEndian<quint32>(bytes.constData() + 4);
    qint64 pos = 12;
    while (pos + 8 <= bytes.size()) {
        QByteArray id = bytes.mid(pos, 4);
        quint32 size = qFromLittleEndian<quint32>(bytes.constData() + pos + 4);
        if (id == "fmt ") {
            info.formatTag = qFromLittleEndian<quint16>(bytes.constData() + pos + 8);
            info.blockAlign = qFromLittleEndian<quint16>(bytes.constData() + pos + 20);
        } else if (id == "data") {
            info.dataSize = size;
            info.dataOffset = pos + 8;
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return info;
}

struct WavCase {
    const char* name;
    const char* caps;
    const char* converters;
    const char* codec;
    int rate, channels;
    quint16 formatTag;
    quint16 blockAlign;
};

class WavFormatTest : public WavWriterTest, public ::testing::WithParamInterface<WavCase> {};

// 100 buffers of 441 samples: exactly one second at 44.1 kHz.
TEST_P(WavFormatTest, WritesAFileWithConsistentSizes) {
    const WavCase& c = GetParam();
    QString path = m_dir.filePath("out.wav");
    RunResult run = Write(path, 100, c.caps, c.converters);
    ASSERT_TRUE(run.eos) << run.error;
    EXPECT_NEAR(run.position / 1e9, 1.0, 0.02);

    testmedia::ProbeResult probe = testmedia::Probe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.formatName, "wav");
    EXPECT_EQ(probe.audioCodec, c.codec);
    EXPECT_EQ(probe.sampleRate, c.rate);
    EXPECT_EQ(probe.channels, c.channels);
    EXPECT_NEAR(probe.duration, 1.0, 0.02);

    ChunkInfo chunks = ReadChunks(path);
    qint64 fileSize = QFile(path).size();
    EXPECT_EQ(chunks.formatTag, c.formatTag);
    EXPECT_EQ(chunks.blockAlign, c.blockAlign);
    EXPECT_EQ(chunks.dataSize, 44100u * c.blockAlign);
    EXPECT_EQ(chunks.riffSize, fileSize - 8);
    EXPECT_EQ(chunks.dataOffset + chunks.dataSize + (chunks.dataSize & 1), fileSize);
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"out.wav"});
    EXPECT_NEAR(ParseWithWavparse(path).duration, 1.0, 0.001);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WavFormatTest,
    ::testing::Values(WavCase{"S16Stereo", "audio/x-raw,format=S16LE,rate=44100,channels=2", "",
                              "pcm_s16le", 44100, 2, 1, 4},
                      WavCase{"U8Mono", "audio/x-raw,format=U8,rate=44100,channels=1", "", "pcm_u8",
                              44100, 1, 1, 1},
                      WavCase{"S24Stereo", "audio/x-raw,format=S24LE,rate=44100,channels=2", "",
                              "pcm_s24le", 44100, 2, 0xFFFE, 6},
                      WavCase{"S32Mono", "audio/x-raw,format=S32LE,rate=44100,channels=1", "",
                              "pcm_s32le", 44100, 1, 0xFFFE, 4},
                      WavCase{"F32Stereo", "audio/x-raw,format=F32LE,rate=44100,channels=2", "",
                              "pcm_f32le", 44100, 2, 0xFFFE, 8},
                      WavCase{"Alaw", "audio/x-raw,format=S16LE,rate=44100,channels=1", "alawenc",
                              "pcm_alaw", 44100, 1, 6, 1},
                      WavCase{"Mulaw", "audio/x-raw,format=S16LE,rate=44100,channels=2", "mulawenc",
                              "pcm_mulaw", 44100, 2, 7, 2}),
    [](const ::testing::TestParamInfo<WavCase>& info) { return info.param.name; });

struct CodedCase {
    const char* name;
    const char* encoder;
    int rate, channels;
    const char* codec;    // as ffprobe names it
    const char* parsed;   // the caps wavparse gives, as a prefix
    int samplesPerBlock;  // the duration may be off by less than one block
    // wavparse times MPEG audio by its frames, not by the header, and takes mono ADPCM blocks
    // for half their length (it counts two samples per byte whatever the channels): its
    // duration is checked where it reads the header's timing right.
    bool parserTimed;
};

class WavCodedFormatTest : public WavWriterTest, public ::testing::WithParamInterface<CodedCase> {};

// Two seconds through each encoder: ffprobe and wavparse both read the codec, the rate, the
// channels and the length (to within a block, as the last one is padded) from the header.
TEST_P(WavCodedFormatTest, BothReadersSeeTheFormatAndTheLength) {
    const CodedCase& c = GetParam();
    if (!HasElementFactory(c.encoder)) GTEST_SKIP() << c.encoder << " is not installed";
    QString path = m_dir.filePath("out.wav");
    const std::string caps = "audio/x-raw,format=S16LE,rate=" + std::to_string(c.rate) +
                             ",channels=" + std::to_string(c.channels);
    GstElementPtr pipeline(gst_pipeline_new("test"));
    GstElement* writer = gst_element_factory_make("kestrinwavwriter", "writer");
    g_object_set(writer, "location", path.toUtf8().constData(), nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), writer);
    const std::string source = "audiotestsrc samplesperbuffer=" + std::to_string(c.rate / 50);
    ASSERT_TRUE(
        AddBranch(pipeline.get(), source.c_str(), 100, caps.c_str(), c.encoder, writer, "sink"));
    RunResult run = RunToEnd(pipeline.get());
    ASSERT_TRUE(run.eos) << run.error;

    const double block = double(c.samplesPerBlock) / c.rate;
    testmedia::ProbeResult probe = testmedia::Probe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.formatName, "wav");
    EXPECT_EQ(probe.audioCodec, c.codec);
    EXPECT_EQ(probe.sampleRate, c.rate);
    EXPECT_EQ(probe.channels, c.channels);
    EXPECT_NEAR(probe.duration, 2.0, block);
    EXPECT_TRUE(testmedia::DecodesCleanly(path));

    ParsedWav parsed = ParseWithWavparse(path);
    EXPECT_EQ(parsed.caps.rfind(c.parsed, 0), 0u) << parsed.caps;
    EXPECT_EQ(parsed.rate, c.rate);
    EXPECT_EQ(parsed.channels, c.channels);
    if (c.parserTimed) EXPECT_NEAR(parsed.duration, 2.0, block);
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"out.wav"});
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, WavCodedFormatTest,
    ::testing::Values(
        CodedCase{"ImaStereo", "adpcmenc", 44100, 2, "adpcm_ima_wav",
                  "audio/x-adpcm, layout=(string)dvi", 1017, true},
        CodedCase{"ImaLibavStereo", "avenc_adpcm_ima_wav", 22050, 2, "adpcm_ima_wav",
                  "audio/x-adpcm, layout=(string)dvi", 1017, true},
        CodedCase{"ImaLibavMono", "avenc_adpcm_ima_wav", 22050, 1, "adpcm_ima_wav",
                  "audio/x-adpcm, layout=(string)dvi", 2041, false},
        CodedCase{"MsAdpcmStereo", "avenc_adpcm_ms", 44100, 2, "adpcm_ms",
                  "audio/x-adpcm, layout=(string)microsoft", 1012, true},
        CodedCase{"Gsm", "gsmenc", 8000, 1, "gsm_ms", "audio/ms-gsm", 320, true},
        CodedCase{"Mp2Stereo", "twolamemp2enc", 44100, 2, "mp2", "audio/mpeg", 1152, false},
        CodedCase{"Mp2LibavMono", "avenc_mp2", 48000, 1, "mp2", "audio/mpeg", 1152, false}),
    [](const ::testing::TestParamInfo<CodedCase>& info) { return info.param.name; });

// GSM comes from its encoder in the standard framing and is stored in Microsoft's: decoding
// the file gives exactly the samples that decoding the encoder's own stream gives.
TEST_F(WavWriterTest, GsmIsRepackedWithoutLoss) {
    if (!HasElementFactory("gsmenc")) GTEST_SKIP() << "gsmenc is not installed";
    const char* caps = "audio/x-raw,format=S16LE,rate=8000,channels=1";
    // 137 frames: the last block holds one frame and a silent one.
    RunResult run = Write(m_dir.filePath("gsm.wav"), 50, caps, "gsmenc");
    ASSERT_TRUE(run.eos) << run.error;
    GstElementPtr pipeline(gst_pipeline_new("reference"));
    GstElement* sink = gst_element_factory_make("filesink", nullptr);
    g_object_set(sink, "location", m_dir.filePath("raw.gsm").toUtf8().constData(), nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), sink);
    ASSERT_TRUE(AddBranch(pipeline.get(), "audiotestsrc samplesperbuffer=441", 50, caps, "gsmenc",
                          sink, "sink"));
    ASSERT_TRUE(RunToEnd(pipeline.get()).eos);

    auto decode = [&](const QStringList& input, const char* name) {
        QString out = m_dir.filePath(name);
        testmedia::RunProgram(
            "ffmpeg", QStringList{"-v", "error"} + input + QStringList{"-f", "s16le", "-y", out});
        QFile file(out);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QByteArray fromWav = decode({"-i", m_dir.filePath("gsm.wav")}, "a.raw");
    QByteArray fromStream = decode({"-f", "gsm", "-i", m_dir.filePath("raw.gsm")}, "b.raw");
    ASSERT_EQ(fromStream.size(), 137 * 160 * 2);
    // Beyond that, at most the silent frame that completes the last block.
    ASSERT_GE(fromWav.size(), fromStream.size());
    EXPECT_LE(fromWav.size(), fromStream.size() + 160 * 2);
    EXPECT_TRUE(fromWav.left(fromStream.size()) == fromStream);
    EXPECT_NEAR(testmedia::Probe(m_dir.filePath("gsm.wav")).duration, 137 * 160 / 8000.0, 0.001);
}

TEST_F(WavWriterTest, WritesMp3AsAPlainStream) {
    QString path = m_dir.filePath("out.mp3");
    RunResult run = Write(path, 200, "audio/x-raw,format=S16LE,rate=44100,channels=2",
                          "lamemp3enc target=bitrate bitrate=128");
    ASSERT_TRUE(run.eos) << run.error;
    EXPECT_NEAR(run.position / 1e9, 2.0, 0.1);

    testmedia::ProbeResult probe = testmedia::Probe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.formatName, "mp3");
    EXPECT_EQ(probe.audioCodec, "mp3");
    EXPECT_EQ(probe.sampleRate, 44100);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_NEAR(probe.duration, 2.0, 0.1);
    EXPECT_TRUE(testmedia::DecodesCleanly(path));
    // No RIFF wrapper: the file starts with an MPEG audio frame sync.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray head = file.read(2);
    EXPECT_EQ(quint8(head[0]), 0xFF);
    EXPECT_EQ(quint8(head[1]) & 0xE0, 0xE0);
}

// A VBR stream with a Xing header, which xingmux completes at the end by rewriting the first
// frame after a byte segment, comes out byte for byte as filesink writes it.
TEST_F(WavWriterTest, KeepsTheXingHeaderOfAVbrStream) {
    const char* caps = "audio/x-raw,format=S16LE,rate=44100,channels=2";
    const char* encoder = "lamemp3enc target=quality quality=2 ! xingmux";
    QString path = m_dir.filePath("vbr.mp3");
    RunResult run = Write(path, 200, caps, encoder);
    ASSERT_TRUE(run.eos) << run.error;
    // Behind xingmux's byte segment the written time is still answered.
    EXPECT_NEAR(run.position / 1e9, 2.0, 0.1);

    GstElementPtr pipeline(gst_pipeline_new("reference"));
    GstElement* sink = gst_element_factory_make("filesink", nullptr);
    QString reference = m_dir.filePath("reference.mp3");
    g_object_set(sink, "location", reference.toUtf8().constData(), nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), sink);
    ASSERT_TRUE(AddBranch(pipeline.get(), "audiotestsrc samplesperbuffer=441", 200, caps, encoder,
                          sink, "sink"));
    ASSERT_TRUE(RunToEnd(pipeline.get()).eos);

    QFile written(path), expected(reference);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
    QByteArray bytes = written.readAll();
    EXPECT_TRUE(bytes.left(200).contains("Xing"));
    EXPECT_TRUE(bytes == expected.readAll());
    EXPECT_NEAR(testmedia::Probe(path).duration, 2.0, 0.1);
}

// Failures leave no file: a folder that does not exist, a write that fails (a file size limit
// stands for a full disk), and a stream that ends without audio.
TEST_F(WavWriterTest, FailuresLeaveNoFile) {
    QString missing = m_dir.filePath("missing/out.wav");
    RunResult run = Write(missing, 10, "audio/x-raw,format=S16LE,rate=44100,channels=2", "");
    EXPECT_FALSE(run.eos);
    EXPECT_NE(run.error.find("No such file or directory"), std::string::npos) << run.error;
    EXPECT_FALSE(QFile::exists(missing));

    QString tooBig = m_dir.filePath("too-big.wav");
    {
        FileSizeLimit limit(64 * 1024);
        run = Write(tooBig, 100, "audio/x-raw,format=S16LE,rate=44100,channels=2", "");
    }
    EXPECT_FALSE(run.eos);
    EXPECT_NE(run.error.find("File too large"), std::string::npos) << run.error;

    QString empty = m_dir.filePath("empty.wav");
    run = Write(empty, 0, "audio/x-raw,format=S16LE,rate=44100,channels=2", "");
    EXPECT_FALSE(run.eos);
    EXPECT_FALSE(run.error.empty());
    EXPECT_TRUE(FilesIn(m_dir.path()).isEmpty()) << FilesIn(m_dir.path()).join(", ").toStdString();
}

}  // namespace
