#include <fcntl.h>
#include <gst/base/gstbasetransform.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "EncoderDiscovery.h"
#include "MediaFramework.h"

namespace {

// Pass-through "encoders" that avimux takes (raw I420): one stamps its output like a working
// encoder, one stamps every buffer 2^63 as libav's MPEG-4 Part 2 encoder in this distribution
// does (its times can be restored from the input), and one stamps its first buffer rightly and
// every later one 2^63 (its stamps cannot be trusted at all).
enum Stamping { kKeep, kBreakAll, kBreakLater };

struct StampEncoder {
    GstBaseTransform parent;
};
struct StampEncoderClass {
    GstBaseTransformClass parent_class;
};

GstFlowReturn BreakStamp(GstBaseTransform*, GstBuffer* buffer) {
    GST_BUFFER_PTS(buffer) = GstClockTime(1) << 63;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    return GST_FLOW_OK;
}

GstFlowReturn BreakLaterStamp(GstBaseTransform* self, GstBuffer* buffer) {
    return GST_BUFFER_PTS(buffer) > 0 ? BreakStamp(self, buffer) : GST_FLOW_OK;
}

GstFlowReturn KeepStamp(GstBaseTransform*, GstBuffer*) {
    return GST_FLOW_OK;
}

GstStaticPadTemplate kRawI420 = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw, format=(string)I420"));
GstStaticPadTemplate kRawI420Src = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw, format=(string)I420"));

constexpr const char* kNames[] = {"Test stamp-keeping encoder", "Test stamp-breaking encoder",
                                  "Test later-stamp-breaking encoder"};
constexpr const char* kTypes[] = {"KestrineTestGoodStamps", "KestrineTestBrokenStamps",
                                  "KestrineTestLaterBrokenStamps"};

template <Stamping stamping>
void ClassInit(gpointer klass, gpointer) {
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &kRawI420);
    gst_element_class_add_static_pad_template(element, &kRawI420Src);
    gst_element_class_set_static_metadata(element, kNames[stamping], "Codec/Encoder/Video", "test",
                                          "test");
    GST_BASE_TRANSFORM_CLASS(klass)->transform_ip = stamping == kKeep       ? KeepStamp
                                                    : stamping == kBreakAll ? BreakStamp
                                                                            : BreakLaterStamp;
    GST_BASE_TRANSFORM_CLASS(klass)->passthrough_on_same_caps = FALSE;
}

template <Stamping stamping>
GType StampEncoderType() {
    static GType type = 0;
    if (!type) {
        GTypeInfo info = {};
        info.class_size = sizeof(StampEncoderClass);
        info.class_init = ClassInit<stamping>;
        info.instance_size = sizeof(StampEncoder);
        type =
            g_type_register_static(GST_TYPE_BASE_TRANSFORM, kTypes[stamping], &info, GTypeFlags(0));
    }
    return type;
}

gboolean RegisterTestEncoders(GstPlugin* plugin) {
    return gst_element_register(plugin, "kestrinetestbrokenenc", GST_RANK_NONE,
                                StampEncoderType<kBreakAll>()) &&
           gst_element_register(plugin, "kestrinetestlaterbrokenenc", GST_RANK_NONE,
                                StampEncoderType<kBreakLater>()) &&
           gst_element_register(plugin, "kestrinetestgoodenc", GST_RANK_NONE,
                                StampEncoderType<kKeep>());
}

class EncoderDiscoveryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }

    static bool Lists(const std::vector<EncoderEntry>& list, const char* factory) {
        return std::any_of(list.begin(), list.end(),
                           [&](const EncoderEntry& e) { return e.factoryName == factory; });
    }
};

}  // namespace

TEST_F(EncoderDiscoveryTest, TrialRestoresMissingTimesAndRejectsUntrustworthyOnes) {
    static bool registered = gst_plugin_register_static(
        GST_VERSION_MAJOR, GST_VERSION_MINOR, "kestrinetestencoders", "test encoders",
        RegisterTestEncoders, "1.0", "LGPL", "test", "test", "test");
    ASSERT_TRUE(registered);
    TrialOutcome good = TrialEncodeVideo("kestrinetestgoodenc");
    EXPECT_TRUE(good.ok) << good.failure;
    TrialOutcome restored = TrialEncodeVideo("kestrinetestbrokenenc");
    EXPECT_TRUE(restored.ok) << restored.failure;
    TrialOutcome broken = TrialEncodeVideo("kestrinetestlaterbrokenenc");
    EXPECT_FALSE(broken.ok);
    EXPECT_NE(broken.failure.find("timestamp"), std::string::npos) << broken.failure;

    // The registry changed: a fresh cache lists the working ones and leaves out the broken one.
    QTemporaryDir cache;
    SetEncoderCacheFolder(cache.path().toStdString());
    std::vector<EncoderEntry> video = VerifiedEncoders(EncoderCategory::AviVideo);
    EXPECT_TRUE(Lists(video, "kestrinetestgoodenc"));
    EXPECT_TRUE(Lists(video, "kestrinetestbrokenenc"));
    EXPECT_FALSE(Lists(video, "kestrinetestlaterbrokenenc"));
    // This build's avenc_mpeg4 stamps 2^63, which is mended; its MPEG-1/2 video encoders refuse
    // every rate.
    EXPECT_TRUE(Lists(video, "avenc_mpeg4"));
    EXPECT_FALSE(Lists(video, "avenc_mpeg1video"));
    EXPECT_FALSE(Lists(video, "avenc_mpeg2video"));
    if (HasElementFactory("x264enc")) {
        EXPECT_TRUE(Lists(video, "x264enc"));
    }
    SetEncoderCacheFolder("");
}

TEST_F(EncoderDiscoveryTest, ListsStartWithUncompressedAndOfferOnlyWhatTheWriterTakes) {
    std::vector<std::string> wav;
    EXPECT_EQ(EnumerateEncoders(EncoderCategory::WavAudio, wav), S_OK);
    ASSERT_FALSE(wav.empty());
    EXPECT_EQ(wav[0], "_Uncompressed_");
    std::vector<EncoderEntry> wavEntries = VerifiedEncoders(EncoderCategory::WavAudio);
    EXPECT_EQ(wav.size(), wavEntries.size() + 1);
    EXPECT_TRUE(Lists(wavEntries, "lamemp3enc"));
    EXPECT_TRUE(Lists(wavEntries, "alawenc"));
    EXPECT_TRUE(Lists(wavEntries, "mulawenc"));
    // The wave codings the writer stores besides PCM and MP3: MPEG layer 2, ADPCM and GSM.
    for (const char* factory : {"twolamemp2enc", "adpcmenc", "avenc_adpcm_ms", "gsmenc"}) {
        if (HasElementFactory(factory)) EXPECT_TRUE(Lists(wavEntries, factory)) << factory;
    }
    EXPECT_FALSE(Lists(wavEntries, "avenc_adpcm_ima_qt"));  // QuickTime's ADPCM is not WAV's
    EXPECT_FALSE(Lists(wavEntries, "vorbisenc"));

    std::vector<EncoderEntry> avi = VerifiedEncoders(EncoderCategory::AviAudio);
    EXPECT_TRUE(Lists(avi, "twolamemp2enc"));
    EXPECT_TRUE(Lists(avi, "lamemp3enc"));
    EXPECT_FALSE(Lists(avi, "flacenc"));  // avimux has no FLAC
    EXPECT_TRUE(std::is_sorted(avi.begin(), avi.end(), [](const auto& a, const auto& b) {
        return a.factoryName < b.factoryName;
    }));
}

TEST_F(EncoderDiscoveryTest, LookupByExactNameCreatesTheEncoderOfThatLine) {
    ElementRef lame = CreateFilterByName(EncoderCategory::WavAudio, "L.A.M.E. mp3 encoder");
    ASSERT_TRUE(lame);
    EXPECT_EQ(FactoryNameOf(lame.get()), "lamemp3enc");
    EXPECT_FALSE(CreateFilterByName(EncoderCategory::WavAudio, "l.a.m.e. mp3 encoder"));
    EXPECT_FALSE(CreateFilterByName(EncoderCategory::WavAudio, "_Uncompressed_"));
    EXPECT_FALSE(CreateFilterByName(EncoderCategory::WavAudio, ""));

    // avenc_ac3 and avenc_ac3_fixed share one long name: every line of a list is its own, the
    // first keeps the plain name (and its encoder), the second names its factory.
    for (EncoderCategory category : {EncoderCategory::AviAudio, EncoderCategory::WavAudio}) {
        std::vector<std::string> names;
        EnumerateEncoders(category, names);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    }
    const std::string ac3 = "libav ATSC A/52A (AC-3) encoder";
    const std::vector<EncoderEntry> avi = VerifiedEncoders(EncoderCategory::AviAudio);
    if (!Lists(avi, "avenc_ac3") || !Lists(avi, "avenc_ac3_fixed"))
        GTEST_SKIP() << "libav's two AC-3 encoders are not both offered";
    ElementRef first = CreateFilterByName(EncoderCategory::AviAudio, ac3);
    ElementRef second = CreateFilterByName(EncoderCategory::AviAudio, ac3 + " (avenc_ac3_fixed)");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(FactoryNameOf(first.get()), "avenc_ac3");
    EXPECT_EQ(FactoryNameOf(second.get()), "avenc_ac3_fixed");
}

TEST_F(EncoderDiscoveryTest, CacheIsReusedForTheSameRegistryAndRebuiltForAnother) {
    QTemporaryDir cache;
    SetEncoderCacheFolder(cache.path().toStdString());
    std::vector<EncoderEntry> built = VerifiedEncoders(EncoderCategory::WavAudio);
    const int afterBuild = TrialEncodeCount();
    ASSERT_FALSE(built.empty());
    ASSERT_TRUE(QFile::exists(QString::fromStdString(EncoderCacheFile())));

    SetEncoderCacheFolder(cache.path().toStdString());  // forget memory: read the file
    EXPECT_EQ(VerifiedEncoders(EncoderCategory::WavAudio), built);
    EXPECT_EQ(EncoderFormats(EncoderCategory::WavAudio, "lamemp3enc").size() > 0, true);
    EXPECT_EQ(TrialEncodeCount(), afterBuild);

    // A file written for another registry (another machine, older plugins) is not trusted.
    QFile file(QString::fromStdString(EncoderCacheFile()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.replace(QByteArray::fromStdString(RegistryFingerprint()), "0000");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    SetEncoderCacheFolder(cache.path().toStdString());
    EXPECT_EQ(VerifiedEncoders(EncoderCategory::WavAudio), built);
    EXPECT_GT(TrialEncodeCount(), afterBuild);
    SetEncoderCacheFolder("");
}

// Some codec libraries complain on the standard error stream about the combinations a trial
// tries (an invalid bit rate for two channels, ...); none of that reaches the user.
TEST_F(EncoderDiscoveryTest, TrialsKeepTheEncodersComplaintsOffTheErrorStream) {
    if (std::getenv("GST_DEBUG")) GTEST_SKIP() << "GST_DEBUG asks for the framework's messages";
    QTemporaryDir cache;
    SetEncoderCacheFolder(cache.path().toStdString());
    const QString captured = cache.filePath("stderr.txt");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int capture =
        ::open(captured.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(capture, 0);
    ::dup2(capture, STDERR_FILENO);
    ::close(capture);
    const int before = TrialEncodeCount();
    const std::vector<EncoderEntry> audio = VerifiedEncoders(EncoderCategory::AviAudio);
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    SetEncoderCacheFolder("");
    EXPECT_GT(TrialEncodeCount(), before);
    EXPECT_FALSE(audio.empty());
    QFile text(captured);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(text.readAll(), QByteArray());
}
