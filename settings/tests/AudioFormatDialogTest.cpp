#include "AudioFormatDialog.h"
#include "DialogTestSupport.h"
#include "EncoderDiscovery.h"

TEST_F(DialogTest, PickerListsEveryFormatAndReturnsTheSelectedLine) {
    ElementRef lame = CreateFilterByName(EncoderCategory::WavAudio, "L.A.M.E. mp3 encoder");
    ASSERT_TRUE(lame);
    CAudioFormatDialog picker(EncoderCategory::WavAudio);
    AudioParams audio;
    audio.sampleRate = 48000;
    picker.ChooseInitialFormat(lame, audio);
    picker.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&picker));
    QListWidget* list = picker.FormatList();
    ASSERT_EQ(list->count(), static_cast<int>(picker.formats.size()));
    EXPECT_EQ(list->item(0)->text(), "320 kb/sec -- 48 kHz -- Stereo");
    EXPECT_EQ(list->currentRow(), picker.position);
    EXPECT_EQ(picker.size(), picker.MapDialogRect(0, 0, 134, 150).size());

    ClickRow(list, 5);
    QTest::mouseClick(picker.findChild<QWidget*>(QString::number(IDC_FORMAT_OK)), Qt::LeftButton);
    EXPECT_EQ(picker.result(), QDialog::Accepted);
    EXPECT_EQ(picker.position, 5);
    ASSERT_TRUE(picker.chosen);
    EXPECT_EQ(*picker.chosen, picker.formats[5]);
    EXPECT_EQ(
        picker.FormatSuffix(),
        "_" + std::to_string(picker.formats[5].avgBytesPerSec * 8 / 1000) + "kbps-48kHz-Stereo");
}

TEST_F(DialogTest, PickerWithoutEncoderShowsNothingToChoose) {
    CAudioFormatDialog picker(EncoderCategory::WavAudio);
    AudioParams audio;
    picker.ChooseInitialFormat({}, audio);
    picker.show();
    EXPECT_EQ(picker.FormatList()->count(), 0);
    picker.OnOK();
    EXPECT_EQ(picker.position, -1);
    EXPECT_FALSE(picker.chosen);
    EXPECT_EQ(picker.DescribeFormat(), "No settings");
}
