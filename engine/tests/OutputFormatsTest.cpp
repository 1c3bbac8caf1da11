#include <gst/base/gstbasetransform.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <utility>

#include "ClipProbe.h"
#include "EngineTestSupport.h"
#include "GstIteration.h"

using namespace enginetest;
using testmedia::Kind;

namespace {

class OutputFormats : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Clip(Kind kind, double seconds = 1.0) {
        return testmedia::MakeClip(kind, m_dir.path(), seconds);
    }
    QString Out(const char* name) const { return m_dir.filePath(name); }
    // The code of the conversion; the whole result stays in m_last.
    HRESULT Convert(const QString& source, const QString& dest, ConversionSettings& settings) {
        CProjectItem clip = ClipFor(source);
        m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
        return m_last.code;
    }
    static ElementRef MpegWriter(int preset) {
        ElementRef writer = Make("kestrinempegwriter");
        if (writer) g_object_set(writer.get(), "preset", preset, nullptr);
        return writer;
    }

    QTemporaryDir m_dir;
    FakeWindow m_window;
    CConversionHost m_host{m_window};
    ClipResult m_last;
};

struct MpegCase {
    int preset;
    const char* name;
    const char* videoCodec;
    int width, height;
    double rate;
    const char* audioCodec;
    int sampleRate;
};

class MpegPresets : public OutputFormats, public ::testing::WithParamInterface<MpegCase> {};

// Generic presets keep the chosen 320x240 at 25 fps; disc presets impose their own frame.
const MpegCase kMpegCases[] = {
    {0, "Mpeg1", "mpeg1video", 320, 240, 25, "mp2", 48000},
    {1, "VcdPal", "mpeg1video", 352, 288, 25, "mp2", 44100},
    {2, "Mpeg2", "mpeg2video", 320, 240, 25, "mp2", 48000},
    {3, "SvcdPal", "mpeg2video", 480, 576, 25, "mp2", 44100},
    {4, "DvdPal", "mpeg2video", 720, 576, 25, "ac3", 48000},
    {5, "VcdNtsc", "mpeg1video", 352, 240, 30000.0 / 1001, "mp2", 44100},
    {6, "SvcdNtsc", "mpeg2video", 480, 480, 30000.0 / 1001, "mp2", 44100},
    {7, "DvdNtsc", "mpeg2video", 720, 480, 30000.0 / 1001, "ac3", 48000},
};

TEST_P(MpegPresets, WritesTheTargetsStreams) {
    const MpegCase& c = GetParam();
    ConversionSettings settings = SettingsFor(Mpeg, "320", "240", "25");
    settings.mpegEncoder = MpegWriter(c.preset);
    if (!settings.mpegEncoder) GTEST_SKIP() << "kestrinempegwriter is not installed";
    const QString source = Clip(Kind::AviMpeg4Mp3);
    const QString dest = Out("out.mpg");
    ASSERT_EQ(Convert(source, dest, settings), S_OK) << m_last.reason;

    const auto p = testmedia::Probe(dest);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.formatName.startsWith("mpeg")) << p.formatName.toStdString();
    EXPECT_EQ(p.videoCodec, c.videoCodec);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_NEAR(p.frameRate, c.rate, 1e-3);
    EXPECT_EQ(p.audioCodec, c.audioCodec);
    EXPECT_EQ(p.sampleRate, c.sampleRate);
    EXPECT_EQ(p.channels, 2);
    EXPECT_NEAR(p.duration, 1.0, 0.15);
    EXPECT_TRUE(testmedia::DecodesCleanly(dest));
    EXPECT_EQ(m_window.Values(CMediaGraph::kProgress).back(), 10000);
    // The writer went back to its owner; the file appeared under its name only.
    EXPECT_EQ(GST_OBJECT_PARENT(settings.mpegEncoder.get()), nullptr);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

INSTANTIATE_TEST_SUITE_P(AllPresets, MpegPresets, ::testing::ValuesIn(kMpegCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Disc pictures are 4:3 or 16:9 and the writer says which: the frame's pixels take the shape of
// the nearer one, the picture keeps its own (borders where it is neither), and material that
// already has the disc's frame and shape is not scaled at all.
TEST_F(OutputFormats, DiscFramesKeepThePictureShape) {
    if (!HasElementFactory("kestrinempegwriter")) GTEST_SKIP() << "the writer is not installed";
    struct {
        const char* name;    // a 1-s 25 fps clip, made when size is given
        const char* size;    // its frame
        const char* codec;   // its coding
        const char* aspect;  // its display aspect ("" for square pixels)
        int preset;          // writer preset; its frame is the settings' frame
        const char* width;
        const char* height;
        double shownAspect;  // width × pixel aspect / height of the output
        bool unscaled;       // no scaler changes a frame
    } cases[] = {
        {"dvd16x9.mkv", "720x576", "mpeg2video", "16:9", 4, "720", "576", 16.0 / 9, true},
        {"dvd4x3.mkv", "720x576", "mpeg2video", "4:3", 4, "720", "576", 4.0 / 3, true},
        {"wide.avi", "640x360", "mpeg4", "", 4, "720", "576", 16.0 / 9, false},
        {"portrait.avi", "360x640", "mpeg4", "", 7, "720", "480", 4.0 / 3, false},
        // Video CDs stay 4:3.
        {"dvd16x9.mkv", nullptr, nullptr, nullptr, 1, "352", "288", 4.0 / 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " preset " + std::to_string(c.preset));
        const QString source = Out(c.name);
        if (c.size) {
            QStringList make{"-f",   "lavfi",
                             "-i",   QString("testsrc2=size=%1:rate=25:duration=1").arg(c.size),
                             "-c:v", c.codec};
            if (*c.aspect) make << "-aspect" << c.aspect;
            ASSERT_EQ(testmedia::RunFfmpeg(make << source), 0);
        }
        ConversionSettings settings = SettingsFor(Mpeg, c.width, c.height, "25");
        settings.mpegEncoder = MpegWriter(c.preset);
        // While frames flow, every scaler of the pipeline is looked at.
        bool looked = false, scaled = false;
        m_window.onEvent = [&](int k, std::intptr_t lParam) {
            if (k != CMediaGraph::kProgress || lParam <= 0 || looked) return;
            looked = true;
            ForEachObject(gst_bin_iterate_recurse(GST_BIN(m_host.Engine()->Pipeline())),
                          [&](gpointer object) {
                              GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(object));
                              if (f && g_str_equal(GST_OBJECT_NAME(f), "videoscale") &&
                                  !gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(object)))
                                  scaled = true;
                              return true;
                          });
        };
        const QString dest = Out("shape.mpg");
        ASSERT_EQ(Convert(source, dest, settings), S_OK) << m_last.reason;
        m_window.onEvent = nullptr;

        QString shown;
        ASSERT_EQ(
            testmedia::RunProgram(
                "ffprobe",
                {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                 "stream=width,height,sample_aspect_ratio,nb_read_frames", "-of", "csv=p=0", dest},
                &shown),
            0);
        // "width,height,num:den,frames" (and a field for side data)
        const QStringList fields = shown.trimmed().split(',');
        ASSERT_GE(fields.size(), 4) << shown.toStdString();
        const QStringList sar = fields[2].split(':');
        ASSERT_EQ(sar.size(), 2);
        const double aspect =
            fields[0].toDouble() * sar[0].toDouble() / (sar[1].toDouble() * fields[1].toDouble());
        EXPECT_NEAR(aspect, c.shownAspect, 0.02 * c.shownAspect) << shown.toStdString();
        EXPECT_EQ(fields[3].toInt(), c.preset == 7 ? 30 : 25);
        EXPECT_TRUE(looked);
        if (!c.unscaled) continue;
        EXPECT_FALSE(scaled);
        // Picture for picture the source, as the decoder laid it out: nothing shifted, padded or
        // letterboxed (a misread row stride or a border scores far below this in every frame).
        QString stats;
        ASSERT_EQ(testmedia::RunProgram("ffmpeg",
                                        {"-v", "error", "-i", dest, "-i", source, "-lavfi",
                                         "psnr=stats_file=-", "-f", "null", "-"},
                                        &stats),
                  0);
        int frames = 0;
        double worst = 1e9;
        for (const QString& line : stats.split('\n', Qt::SkipEmptyParts)) {
            const qsizetype at = line.indexOf("psnr_avg:");
            if (at < 0) continue;
            ++frames;
            worst = std::min(worst, line.mid(at + 9).section(' ', 0, 0).toDouble());
        }
        EXPECT_EQ(frames, 25) << stats.left(300).toStdString();
        EXPECT_GT(worst, 30.0);
    }
}

TEST_F(OutputFormats, MpegCarriesBothStreamsThroughTheHoldElementAndAudioAlonePastIt) {
    if (!HasElementFactory("kestrinempegwriter") || !HasElementFactory("tarrowhold"))
        GTEST_SKIP() << "the writer or the hold element is not installed";
    ConversionSettings settings = SettingsFor(Mpeg, "320", "240", "25");
    settings.mpegEncoder = MpegWriter(4);
    ASSERT_EQ(Convert(Clip(Kind::AviMjpegPcm), Out("both.mpg"), settings), S_OK) << m_last.reason;
    GstElementPtr hold(gst_bin_get_by_name(GST_BIN(m_host.Engine()->Pipeline()), "Tarrow Hold"));
    ASSERT_TRUE(hold);
    GstPadPtr input1(gst_element_get_static_pad(hold.get(), "Input1"));
    ASSERT_TRUE(input1);
    EXPECT_TRUE(gst_pad_is_linked(input1.get()));

    // An audio-only clip: no video group, so the hold element never gets its second pair and
    // the audio goes to the writer directly.
    ASSERT_EQ(Convert(Clip(Kind::Mp3), Out("audio.mpg"), settings), S_OK) << m_last.reason;
    GstElementPtr idleHold(
        gst_bin_get_by_name(GST_BIN(m_host.Engine()->Pipeline()), "Tarrow Hold"));
    EXPECT_FALSE(idleHold);
    const auto p = testmedia::Probe(Out("audio.mpg"));
    EXPECT_TRUE(p.videoCodec.isEmpty());
    EXPECT_EQ(p.audioCodec, "ac3");
    EXPECT_NEAR(p.duration, 1.0, 0.15);
}

TEST_F(OutputFormats, MpegIsBuiltWithoutTheHoldElementWhenItIsMissing) {
    if (!HasElementFactory("kestrinempegwriter"))
        GTEST_SKIP() << "kestrinempegwriter is not installed";
    GstRegistry* registry = gst_registry_get();
    GstPluginFeature* feature = gst_registry_lookup_feature(registry, "tarrowhold");
    if (feature) gst_registry_remove_feature(registry, feature);
    ConversionSettings settings = SettingsFor(Mpeg, "320", "240", "25");
    settings.mpegEncoder = MpegWriter(1);
    const HRESULT hr = Convert(Clip(Kind::AviMjpegPcm), Out("nohold.mpg"), settings);
    if (feature) {
        gst_registry_add_feature(registry, feature);  // takes the reference
    }
    ASSERT_EQ(hr, S_OK) << m_last.reason;
    const auto p = testmedia::Probe(Out("nohold.mpg"));
    EXPECT_EQ(p.videoCodec, "mpeg1video");
    EXPECT_EQ(p.audioCodec, "mp2");
}

TEST_F(OutputFormats, WavKeepsPcmAndMp3GoesThroughTheEncoder) {
    if (!HasElementFactory("kestrinwavwriter")) GTEST_SKIP() << "kestrinwavwriter is not installed";
    ConversionSettings wav = SettingsFor(WavMp3);
    wav.audioFormat = Pcm(22050, 1);
    ASSERT_EQ(Convert(Clip(Kind::AviMpeg4Mp3, 2.0), Out("out.wav"), wav), S_OK) << m_last.reason;
    auto p = testmedia::Probe(Out("out.wav"));
    EXPECT_EQ(p.formatName, "wav");
    EXPECT_TRUE(p.videoCodec.isEmpty());
    EXPECT_EQ(p.audioCodec, "pcm_s16le");
    EXPECT_EQ(p.sampleRate, 22050);
    EXPECT_EQ(p.channels, 1);
    EXPECT_NEAR(p.duration, 2.0, 0.05);
    // Audio output never shows a preview.
    EXPECT_TRUE(m_window.Values(CMediaGraph::kPreviewSetup).empty());

    ConversionSettings mp3 = SettingsFor(WavMp3);
    mp3.audioEncoder = Make("lamemp3enc");
    mp3.audioFormat = Layer3At128k();
    ASSERT_EQ(Convert(Clip(Kind::WavMono22k, 2.0), Out("out.mp3"), mp3), S_OK) << m_last.reason;
    p = testmedia::Probe(Out("out.mp3"));
    EXPECT_EQ(p.formatName, "mp3");
    EXPECT_EQ(p.audioCodec, "mp3");
    EXPECT_EQ(p.sampleRate, 44100);
    EXPECT_EQ(p.channels, 2);
    EXPECT_NEAR(double(p.audioBitRate), 128000.0, 2000.0);
    // Its Xing header counts whole frames, the encoder's delay and padding included.
    EXPECT_NEAR(p.duration, 2.03, 0.035);
    EXPECT_TRUE(testmedia::DecodesCleanly(Out("out.mp3")));
    EXPECT_EQ(GST_OBJECT_PARENT(mp3.audioEncoder.get()), nullptr);
}

// The tags of a file as ffprobe reads them (its container's, by ffprobe's names).
QJsonObject FileTags(const QString& path) {
    QString out;
    testmedia::RunProgram(
        "ffprobe", {"-v", "error", "-show_entries", "format_tags", "-of", "json", path}, &out);
    return QJsonDocument::fromJson(out.toUtf8()).object()["format"].toObject()["tags"].toObject();
}

// A tagged source's (Vorbis comments here) title, artist, album, track, date, genre and comment, as
// the probe read them, reach a WAV file's LIST/INFO chunk and an MP3 file's ID3v2.3 tag; the MP3
// also starts with a Xing header frame.
TEST_F(OutputFormats, TagsOfTheSourceTravelIntoWavAndMp3) {
    if (!HasElementFactory("kestrinwavwriter")) GTEST_SKIP() << "kestrinwavwriter is not installed";
    const QString source = Out("tagged.flac");
    ASSERT_EQ(testmedia::RunProgram("ffmpeg", {"-v",        "error",
                                               "-f",        "lavfi",
                                               "-i",        "sine=d=2:r=44100",
                                               "-c:a",      "flac",
                                               "-metadata", "title=Night Train",
                                               "-metadata", "artist=The Példa Band",
                                               "-metadata", "album=Rails",
                                               "-metadata", "track=7",
                                               "-metadata", "date=1999",
                                               "-metadata", "genre=Jazz",
                                               "-metadata", "comment=live take",
                                               "-y",        source}),
              0);
    CProjectItem clip;
    clip.SetPath(source.toStdString());
    clip.SetName("tagged.flac");
    CClipProbe probe;
    ASSERT_EQ(probe.Probe(clip), S_OK);
    ASSERT_TRUE(clip.GetTags());

    ConversionSettings wav = SettingsFor(WavMp3);
    wav.audioFormat = Pcm(44100, 2);
    ConversionSettings mp3 = SettingsFor(WavMp3);
    mp3.audioEncoder = Make("lamemp3enc");
    mp3.audioFormat = Layer3At128k();
    for (auto [name, settings] : {std::pair{"out.wav", &wav}, std::pair{"out.mp3", &mp3}}) {
        SCOPED_TRACE(name);
        CProjectItem item = clip;
        m_last = m_host.ConvertClip(Out(name).toStdString(), item, *settings);
        ASSERT_EQ(m_last.code, S_OK) << m_last.reason;
        const QJsonObject tags = FileTags(Out(name));
        EXPECT_EQ(tags["title"].toString(), "Night Train");
        EXPECT_EQ(tags["artist"].toString(), "The Példa Band");
        EXPECT_EQ(tags["album"].toString(), "Rails");
        EXPECT_EQ(tags["track"].toString(), "7");
        EXPECT_EQ(tags["date"].toString().left(4), "1999");
        EXPECT_EQ(tags["genre"].toString(), "Jazz");
        EXPECT_EQ(tags["comment"].toString(), "live take");
        // An MP3's Xing header counts whole frames, the encoder's delay and padding included.
        EXPECT_NEAR(testmedia::Probe(Out(name)).duration, 2.03, 0.035);
    }
    QFile file(Out("out.mp3"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(16384);
    EXPECT_TRUE(head.startsWith(QByteArray("ID3\x03", 4)));
    EXPECT_TRUE(head.contains("Info") || head.contains("Xing"));
}

}  // namespace
