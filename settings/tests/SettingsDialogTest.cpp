#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <functional>

#include "AudioFormatDialog.h"
#include "DialogTestSupport.h"
#include "EncoderDiscovery.h"
#include "EncoderPropertiesDialog.h"
#include "SettingsDialog.h"
#include "VireoButton.h"

namespace {

// Stands in for the MPEG writer when the writers' plugin is not built: an element with the
// writer's "preset" property, so the code the dialog sends can be read back.
struct FakeWriter {
    GstElement parent;
    int preset;
};
struct FakeWriterClass {
    GstElementClass parent_class;
};

void FakeSet(GObject* object, guint, const GValue* value, GParamSpec*) {
    reinterpret_cast<FakeWriter*>(object)->preset = g_value_get_int(value);
}
void FakeGet(GObject* object, guint, GValue* value, GParamSpec*) {
    g_value_set_int(value, reinterpret_cast<FakeWriter*>(object)->preset);
}
void FakeClassInit(gpointer klass, gpointer) {
    G_OBJECT_CLASS(klass)->set_property = FakeSet;
    G_OBJECT_CLASS(klass)->get_property = FakeGet;
    g_object_class_install_property(
        G_OBJECT_CLASS(klass), 1,
        g_param_spec_int("preset", "Preset", "preset code", 0, 7, 0, G_PARAM_READWRITE));
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "MPEG Writer Filter",
                                          "Sink/File", "test stand-in", "test");
}
gboolean RegisterFakeWriter(GstPlugin* plugin) {
    GTypeInfo info = {};
    info.class_size = sizeof(FakeWriterClass);
    info.class_init = FakeClassInit;
    info.instance_size = sizeof(FakeWriter);
    GType type =
        g_type_register_static(GST_TYPE_ELEMENT, "KestrineTestMpegWriter", &info, GTypeFlags(0));
    return gst_element_register(plugin, "kestrinempegwriter", GST_RANK_NONE, type);
}

void EnsureMpegWriter() {
    if (HasElementFactory("kestrinempegwriter")) return;
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "kestrinetestwriter",
                               "test writer", RegisterFakeWriter, "1.0", "LGPL", "test", "test",
                               "test");
}

int PresetOf(const ElementRef& writer) {
    int preset = -1;
    g_object_get(writer.get(), "preset", &preset, nullptr);
    return preset;
}

// The dialog with its two nested modal windows answered by the test.
class TestSettingsDialog : public CSettingsDialog {
public:
    std::function<int(CAudioFormatDialog&)> picker;
    std::function<int(QDialog&)> properties;

protected:
    int RunAudioFormatPicker(CAudioFormatDialog& dialog) override { return picker(dialog); }
    int RunPropertiesDialog(QDialog& dialog) override { return properties(dialog); }
};

class SettingsDialogTest : public DialogTest {
protected:
    void Open(TestSettingsDialog& dialog, OutputFormat format = Avi) {
        dialog.Settings().outputFormat = format;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    template <typename T>
    static T* Control(QWidget& dialog, int id) {
        T* control = dialog.findChild<T*>(QString::number(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    static QComboBox* Combo(QWidget& d, int id) { return Control<QComboBox>(d, id); }
    static QString Text(QWidget& d, int id) { return Combo(d, id)->currentText(); }
    static QStringList Items(QComboBox* combo) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }
    static void Click(QWidget& d, int id) {
        QTest::mouseClick(Control<CVireoButton>(d, id), Qt::LeftButton);
    }
};

}  // namespace

TEST_F(SettingsDialogTest, AviOpensWithDefaultsEncodersAndEveryControlEnabled) {
    TestSettingsDialog d;
    Open(d);
    auto* formats = Control<QListWidget>(d, IDC_OUTPUT_FORMAT);
    ASSERT_EQ(formats->count(), 3);
    EXPECT_EQ(formats->item(1)->text(), "MPEG video (DVD/VCD/SVCD)");
    EXPECT_EQ(formats->currentRow(), 0);
    EXPECT_EQ(Items(Combo(d, IDC_WIDTH)),
              QStringList({"160", "320", "352", "360", "384", "480", "640", "720"}));
    EXPECT_EQ(Items(Combo(d, IDC_FRAME_RATE)).size(), 9);
    EXPECT_EQ(Text(d, IDC_WIDTH), "320");  // an empty profile means the defaults
    EXPECT_EQ(Text(d, IDC_HEIGHT), "240");
    EXPECT_EQ(Text(d, IDC_FRAME_RATE), "25");
    EXPECT_EQ(Control<QLabel>(d, IDC_VIDEO_LABEL)->text(), "Video Encoder:");
    EXPECT_EQ(Control<QLabel>(d, IDC_AUDIO_LABEL)->text(), "Audio Encoder:");

    QStringList video = Items(Combo(d, IDC_VIDEO_LIST));
    EXPECT_EQ(video.value(0), "_Uncompressed_");
    EXPECT_TRUE(video.contains("libav MPEG-4 part 2 encoder"));  // its times are mended
    EXPECT_EQ(Combo(d, IDC_AUDIO_LIST)->itemText(0), "_Uncompressed_");
    EXPECT_TRUE(Items(Combo(d, IDC_AUDIO_LIST)).contains("TwoLAME mp2 encoder"));
    EXPECT_EQ(Text(d, IDC_VIDEO_LIST), "_Uncompressed_");
    EXPECT_FALSE(d.Settings().videoEncoder);
    EXPECT_EQ(Control<QLineEdit>(d, IDC_AUDIO_SETTINGS)->text(), "No settings");
    for (int id : {IDC_WIDTH, IDC_HEIGHT, IDC_FRAME_RATE, IDC_VIDEO_LIST, IDC_AUDIO_LIST})
        EXPECT_TRUE(Combo(d, id)->isEnabled()) << id;
    EXPECT_TRUE(Control<QWidget>(d, IDC_PROPERTIES)->isEnabled());
    EXPECT_TRUE(Control<QWidget>(d, IDC_CHANGE)->isEnabled());
    EXPECT_EQ(d.size(), d.MapDialogRect(0, 0, 229, 161).size());
}

TEST_F(SettingsDialogTest, DvdNtscFixesSizeAndRateAndSendsPresetSeven) {
    EnsureMpegWriter();
    TestSettingsDialog d;
    Open(d);
    ClickRow(Control<QListWidget>(d, IDC_OUTPUT_FORMAT), Mpeg);
    EXPECT_EQ(Control<QLabel>(d, IDC_VIDEO_LABEL)->text(), "Output Type:");
    EXPECT_EQ(Control<QLabel>(d, IDC_AUDIO_LABEL)->text(), "Video Format:");
    EXPECT_EQ(Items(Combo(d, IDC_VIDEO_LIST)),
              QStringList({"MPEG-2", "MPEG-1", "VCD", "DVD", "SVCD"}));
    EXPECT_EQ(Items(Combo(d, IDC_AUDIO_LIST)), QStringList({"PAL", "NTSC"}));
    EXPECT_EQ(Items(Combo(d, IDC_FRAME_RATE)), QStringList({"23.976", "24", "25", "29.97", "30"}));
    EXPECT_FALSE(Control<QWidget>(d, IDC_PROPERTIES)->isEnabled());
    EXPECT_FALSE(Control<QWidget>(d, IDC_CHANGE)->isEnabled());

    ChooseText(Combo(d, IDC_VIDEO_LIST), "DVD");
    EXPECT_EQ(Text(d, IDC_WIDTH), "720");
    EXPECT_EQ(Text(d, IDC_HEIGHT), "576");
    EXPECT_EQ(Text(d, IDC_FRAME_RATE), "25");
    ChooseText(Combo(d, IDC_AUDIO_LIST), "NTSC");
    EXPECT_EQ(Text(d, IDC_WIDTH), "720");
    EXPECT_EQ(Text(d, IDC_HEIGHT), "480");
    EXPECT_EQ(Text(d, IDC_FRAME_RATE), "29.97");
    for (int id : {IDC_WIDTH, IDC_HEIGHT, IDC_FRAME_RATE})
        EXPECT_FALSE(Combo(d, id)->isEnabled()) << id;

    Click(d, IDC_START_CONVERSION);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    ASSERT_TRUE(d.Settings().mpegEncoder);
    EXPECT_EQ(PresetOf(d.Settings().mpegEncoder), 7);
    EXPECT_EQ(d.Settings().outputFormat, Mpeg);
    EXPECT_EQ(d.Settings().widthText, "720");
    EXPECT_EQ(d.Settings().heightText, "480");
    EXPECT_EQ(d.Settings().frameRateText, "29.97");
    EXPECT_EQ(d.Settings().videoListText, "DVD");
    EXPECT_EQ(d.Settings().audioListText, "NTSC");
    EXPECT_EQ(d.Settings().audioText, "");
    EXPECT_EQ(Stored("MpegType"), 3);
    EXPECT_EQ(Stored("MpegFormat"), 1);
    EXPECT_EQ(Stored("MpegWidth"), 7);
}

TEST_F(SettingsDialogTest, OutputTypeChangesFreeOrResetTheDiscSettings) {
    EnsureMpegWriter();
    TestSettingsDialog d;
    Open(d, Mpeg);
    // DVD -> MPEG-1: the lists are enabled again and keep the DVD size and rate.
    ChooseText(Combo(d, IDC_VIDEO_LIST), "DVD");
    ChooseText(Combo(d, IDC_VIDEO_LIST), "MPEG-1");
    for (int id : {IDC_WIDTH, IDC_HEIGHT, IDC_FRAME_RATE})
        EXPECT_TRUE(Combo(d, id)->isEnabled()) << id;
    EXPECT_EQ(Text(d, IDC_WIDTH), "720");
    EXPECT_EQ(Text(d, IDC_HEIGHT), "576");
    EXPECT_EQ(Text(d, IDC_FRAME_RATE), "25");

    // MPEG-2 with NTSC: only the rate follows the standard.
    ChooseText(Combo(d, IDC_VIDEO_LIST), "MPEG-2");
    ChooseText(Combo(d, IDC_WIDTH), "352");
    ChooseText(Combo(d, IDC_AUDIO_LIST), "NTSC");
    EXPECT_EQ(Text(d, IDC_FRAME_RATE), "29.97");
    EXPECT_EQ(Text(d, IDC_WIDTH), "352");
    EXPECT_EQ(d.ConfigureMpegEncoder(), S_OK);
    EXPECT_EQ(PresetOf(d.Settings().mpegEncoder), 2);

    // SVCD while NTSC is chosen: back to PAL at the PAL size, and a fresh writer.
    ElementRef before = d.Settings().mpegEncoder;
    ChooseText(Combo(d, IDC_VIDEO_LIST), "SVCD");
    EXPECT_EQ(Text(d, IDC_AUDIO_LIST), "PAL");
    EXPECT_EQ(Text(d, IDC_WIDTH), "480");
    EXPECT_EQ(Text(d, IDC_HEIGHT), "576");
    EXPECT_NE(d.Settings().mpegEncoder, before);
    EXPECT_EQ(d.ConfigureMpegEncoder(), S_OK);
    EXPECT_EQ(PresetOf(d.Settings().mpegEncoder), 3);
}

TEST_F(SettingsDialogTest, WavMp3DisablesVideoControlsAndOffersWavEncodersOnly) {
    TestSettingsDialog d;
    Open(d);
    ClickRow(Control<QListWidget>(d, IDC_OUTPUT_FORMAT), WavMp3);
    for (int id : {IDC_WIDTH, IDC_HEIGHT, IDC_FRAME_RATE, IDC_VIDEO_LIST})
        EXPECT_FALSE(Combo(d, id)->isEnabled()) << id;
    EXPECT_FALSE(Control<QWidget>(d, IDC_PROPERTIES)->isEnabled());
    EXPECT_TRUE(Control<QWidget>(d, IDC_CHANGE)->isEnabled());
    EXPECT_EQ(Control<QLabel>(d, IDC_VIDEO_LABEL)->text(), "Video encoder:");
    EXPECT_FALSE(Control<QLabel>(d, IDC_VIDEO_LABEL)->isEnabled());
    EXPECT_EQ(Control<QLabel>(d, IDC_AUDIO_LABEL)->text(), "Audio encoder:");
    EXPECT_EQ(Items(Combo(d, IDC_FRAME_RATE)).size(), 9);  // contents kept
    QStringList audio = Items(Combo(d, IDC_AUDIO_LIST));
    EXPECT_EQ(audio.value(0), "_Uncompressed_");
    EXPECT_TRUE(audio.contains("L.A.M.E. mp3 encoder"));
    EXPECT_TRUE(audio.contains("TwoLAME mp2 encoder"));               // MPEG layer 2 in a wave file
    EXPECT_FALSE(audio.contains("libav ATSC A/52A (AC-3) encoder"));  // AVI only

    // Choosing MP3 picks a format for the source rate and tags it for a ".mp3" output.
    d.Settings().audio.sampleRate = 44100;
    ChooseText(Combo(d, IDC_AUDIO_LIST), "L.A.M.E. mp3 encoder");
    ASSERT_TRUE(d.Settings().audioEncoder);
    ASSERT_TRUE(d.Settings().audioFormat);
    EXPECT_EQ(d.Settings().audio.formatTag, kFormatTagMp3);
    EXPECT_EQ(d.Settings().audioFormat->samplesPerSec, 44100u);
    EXPECT_EQ(Control<QLineEdit>(d, IDC_AUDIO_SETTINGS)->text(), "320 kb/sec -- 44 kHz -- Stereo");
    EXPECT_EQ(d.Settings().fileNameSuffix, "_320kbps-44kHz-Stereo");

    // Back to "_Uncompressed_": no encoder, no format, and no MP3 tag left behind.
    ChooseByClick(Combo(d, IDC_AUDIO_LIST), 0);
    EXPECT_FALSE(d.Settings().audioEncoder);
    EXPECT_FALSE(d.Settings().audioFormat);
    EXPECT_EQ(d.Settings().audio.formatTag, kFormatTagNone);
    EXPECT_EQ(d.Settings().audioText, "No settings");
}

TEST_F(SettingsDialogTest, FormatSwitchSavesTheFormatLeftAndExitSavesNothingMore) {
    {
        TestSettingsDialog d;
        Open(d);
        ChooseText(Combo(d, IDC_WIDTH), "640");
        ChooseText(Combo(d, IDC_FRAME_RATE), "8");
        ClickRow(Control<QListWidget>(d, IDC_OUTPUT_FORMAT), WavMp3);
        EXPECT_EQ(Stored("AviWidth"), 6);
        EXPECT_EQ(Stored("AviFrameRate"), 0);
        EXPECT_EQ(Stored("WavAudio"), -99);

        ChooseText(Combo(d, IDC_AUDIO_LIST), "L.A.M.E. mp3 encoder");
        const int lame = Combo(d, IDC_AUDIO_LIST)->currentIndex();
        ClickRow(Control<QListWidget>(d, IDC_OUTPUT_FORMAT), Avi);
        EXPECT_EQ(Stored("WavAudio"), lame);
        EXPECT_EQ(Text(d, IDC_WIDTH), "640");
        EXPECT_EQ(Text(d, IDC_FRAME_RATE), "25");  // a stored 0 comes back as the default
        ClickRow(Control<QListWidget>(d, IDC_OUTPUT_FORMAT), WavMp3);
        EXPECT_EQ(Text(d, IDC_AUDIO_LIST), "L.A.M.E. mp3 encoder");

        ChooseByClick(Combo(d, IDC_AUDIO_LIST), 0);
        Click(d, IDC_EXIT);
        EXPECT_EQ(d.result(), QDialog::Rejected);
        EXPECT_EQ(Stored("WavAudio"), lame);  // the change after the switch is not saved
    }
    TestSettingsDialog again;
    Open(again, WavMp3);
    EXPECT_EQ(Text(again, IDC_AUDIO_LIST), "L.A.M.E. mp3 encoder");
}

TEST_F(SettingsDialogTest, ConfirmedWavFormatIsRememberedAcrossRuns) {
    std::string chosenText;
    {
        TestSettingsDialog d;
        Open(d, WavMp3);
        ChooseText(Combo(d, IDC_AUDIO_LIST), "L.A.M.E. mp3 encoder");
        d.picker = [](CAudioFormatDialog& picker) {
            picker.OnInitDialog();
            ClickRow(picker.FormatList(), 3);
            picker.OnOK();
            return picker.result();
        };
        Click(d, IDC_CHANGE);
        EXPECT_EQ(d.Settings().audio.formatIndex, 3);
        chosenText = d.Settings().audioText;
        Click(d, IDC_START_CONVERSION);
        EXPECT_EQ(Stored("WavAudioSet"), 3);
    }
    TestSettingsDialog again;
    Open(again, WavMp3);
    EXPECT_EQ(again.Settings().audio.formatIndex, 3);
    EXPECT_EQ(again.Settings().audioText, chosenText);
}

TEST_F(SettingsDialogTest, PickerConfirmTakesTheLineAndCancelChangesNothing) {
    TestSettingsDialog d;
    Open(d, WavMp3);
    d.Settings().audio.sampleRate = 44100;
    ChooseText(Combo(d, IDC_AUDIO_LIST), "A Law audio encoder");
    const ConversionSettings before = d.Settings();
    ASSERT_TRUE(before.audioFormat);

    int shownRow = -1;
    d.picker = [&](CAudioFormatDialog& picker) {
        picker.OnInitDialog();
        shownRow = picker.FormatList()->currentRow();
        ClickRow(picker.FormatList(), picker.FormatList()->count() - 1);
        picker.OnCancel();
        return picker.result();
    };
    Click(d, IDC_CHANGE);
    EXPECT_EQ(shownRow, d.Settings().audio.formatIndex);  // the picker opens on the choice
    EXPECT_EQ(d.Settings().audioFormat, before.audioFormat);
    EXPECT_EQ(d.Settings().audio, before.audio);
    EXPECT_EQ(d.Settings().audioText, before.audioText);
    EXPECT_EQ(d.Settings().fileNameSuffix, before.fileNameSuffix);

    d.picker = [&](CAudioFormatDialog& picker) {
        picker.OnInitDialog();
        ClickRow(picker.FormatList(), picker.FormatList()->count() - 1);  // 8 kHz mono
        picker.OnOK();
        return picker.result();
    };
    Click(d, IDC_CHANGE);
    ASSERT_TRUE(d.Settings().audioFormat);
    EXPECT_EQ(d.Settings().audioFormat->samplesPerSec, 8000u);
    EXPECT_EQ(d.Settings().audioText, "64 kb/sec -- 8 kHz -- Mono");
    EXPECT_EQ(d.Settings().fileNameSuffix, "_64kbps-8kHz-Mono");
    EXPECT_EQ(Control<QLineEdit>(d, IDC_AUDIO_SETTINGS)->text(), "64 kb/sec -- 8 kHz -- Mono");
}

// Encodes a few frames with the encoder instance and returns the options text x264 writes into
// its first output ("cabac=1 ref=3 ..."), empty when there is none.
std::string X264Options(GstElement* encoder) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(source, "num-buffers", 5, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, GST_ELEMENT(gst_object_ref(encoder)), sink,
                     nullptr);
    std::string data;  // written on the streaming thread, read after the pipeline stopped
    GstPad* input = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(
        input, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer into) {
            auto* text = static_cast<std::string*>(into);
            GstMapInfo map;
            if (text->empty() &&
                gst_buffer_map(GST_PAD_PROBE_INFO_BUFFER(info), &map, GST_MAP_READ)) {
                text->assign(reinterpret_cast<const char*>(map.data), map.size);
                gst_buffer_unmap(GST_PAD_PROBE_INFO_BUFFER(info), &map);
            }
            return GST_PAD_PROBE_OK;
        },
        &data, nullptr);
    gst_object_unref(input);
    if (gst_element_link_many(source, encoder, sink, nullptr) &&
        gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(pipeline);
        if (GstMessage* end = gst_bus_timed_pop_filtered(
                bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)))
            gst_message_unref(end);
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline), encoder);
    gst_object_unref(pipeline);
    const std::size_t at = data.find("options: ");
    return at == std::string::npos ? std::string() : data.substr(at, data.find('\0', at) - at);
}

TEST_F(SettingsDialogTest, PropertiesEditTheEncoderThatTheBatchThenUses) {
    TestSettingsDialog d;
    Open(d);
    EXPECT_EQ(d.OnProperties(), E_FAIL);  // "_Uncompressed_": nothing to show
    const std::vector<EncoderEntry> video = VerifiedEncoders(EncoderCategory::AviVideo);
    auto x264 = std::find_if(video.begin(), video.end(),
                             [](const EncoderEntry& e) { return e.factoryName == "x264enc"; });
    if (x264 == video.end()) GTEST_SKIP() << "x264enc is not installed";
    ChooseText(Combo(d, IDC_VIDEO_LIST), QString::fromStdString(x264->longName));
    ElementRef encoder = d.Settings().videoEncoder;
    ASSERT_TRUE(encoder);

    QString tip, label;
    bool frameworkPropertiesShown = true;
    d.properties = [&](QDialog& dialog) {
        auto& props = static_cast<CEncoderPropertiesDialog&>(dialog);
        frameworkPropertiesShown = props.Editor("qos") || props.Editor("name") ||
                                   props.Editor("parent") ||
                                   props.Editor("min-force-key-unit-interval");
        auto* bitrate = qobject_cast<QSpinBox*>(props.Editor("bitrate"));
        auto* preset = qobject_cast<QComboBox*>(props.Editor("speed-preset"));
        QWidget* tune = props.Editor("tune");
        auto* fastDecode = tune ? tune->findChild<QCheckBox*>("fastdecode") : nullptr;
        EXPECT_TRUE(bitrate && preset && fastDecode);
        if (!bitrate || !preset || !fastDecode) return int(QDialog::Rejected);
        tip = bitrate->toolTip();
        for (auto* l : dialog.findChildren<QLabel*>())
            if (l->buddy() == bitrate || l->toolTip() == tip) label = l->text();
        bitrate->setValue(777);
        preset->setCurrentIndex(preset->findText("ultrafast"));
        fastDecode->setChecked(true);
        return int(QDialog::Accepted);
    };
    Click(d, IDC_PROPERTIES);
    EXPECT_FALSE(frameworkPropertiesShown);
    EXPECT_TRUE(tip.contains("bitrate")) << tip.toStdString();
    EXPECT_FALSE(label.isEmpty());
    EXPECT_NE(label, "bitrate");  // the description, not the raw name

    // The values reach the running encoder: x264 writes the options it runs with into its
    // stream (fastdecode turns CABAC off, ultrafast searches with the diamond method).
    const std::string options = X264Options(encoder.get());
    EXPECT_NE(options.find("bitrate=777"), std::string::npos) << options;
    EXPECT_NE(options.find("cabac=0"), std::string::npos) << options;
    EXPECT_NE(options.find("me=dia"), std::string::npos) << options;

    // Start Conversion keeps the configured instance.
    Click(d, IDC_START_CONVERSION);
    EXPECT_EQ(d.Settings().videoEncoder, encoder);
    EXPECT_EQ(d.Settings().videoListText, x264->longName);
}

TEST_F(SettingsDialogTest, StoredPositionsBeyondTheListsLeaveThemUnselected) {
    CProfileStore::SetInt("Settings", "AviVideo", 999);
    CProfileStore::SetInt("Settings", "AviHeight", 40);
    TestSettingsDialog d;
    Open(d);
    EXPECT_EQ(Combo(d, IDC_VIDEO_LIST)->currentIndex(), -1);
    EXPECT_EQ(Combo(d, IDC_HEIGHT)->currentIndex(), -1);
    EXPECT_FALSE(d.Settings().videoEncoder);
    Click(d, IDC_START_CONVERSION);
    EXPECT_EQ(d.Settings().videoListText, "");
    EXPECT_EQ(d.Settings().heightText, "");
    EXPECT_FALSE(d.Settings().videoEncoder);
    EXPECT_EQ(Stored("AviVideo"), -1);
}
