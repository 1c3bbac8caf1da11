#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "ProfileStore.h"
#include "RememberedSelections.h"

namespace {

// A list of n entries, like a drop-down list without a window.
class FakeList : public ISelectionList {
public:
    explicit FakeList(int n) : m_count(n) {}
    int Count() const override { return m_count; }
    int Selected() const override { return m_selected; }
    void Select(int position) override {
        m_selected = position >= 0 && position < m_count ? position : -1;
    }

private:
    int m_count;
    int m_selected = -1;
};

struct Lists {
    FakeList width{8}, height{5}, frameRate{9}, videoList{4}, audioList{3};
    SelectionLists all() { return {&width, &height, &frameRate, &videoList, &audioList}; }
};

class RememberedSelectionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CProfileStore::UseFolder(m_dir.path());
    }
    static int Stored(const char* name) { return CProfileStore::GetInt("Settings", name, -99); }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(RememberedSelectionsTest, EmptyProfileLoadsZerosAndNoWavFormat) {
    RememberedSelections r;
    AudioParams audio;
    audio.formatIndex = 5;
    r.Load(audio);
    EXPECT_EQ(r.aviWidth, 0);
    EXPECT_EQ(r.mpegFrameRate, 0);
    EXPECT_EQ(r.wavAudio, 0);
    EXPECT_EQ(r.wavAudioSet, -1);
    EXPECT_EQ(audio.formatIndex, -1);
}

TEST_F(RememberedSelectionsTest, StoredZeroRestoresDefaultSizeAndRateButNotEncoders) {
    RememberedSelections r;
    AudioParams audio;
    r.Load(audio);  // all zero

    Lists avi;
    r.Restore(Avi, avi.all());
    EXPECT_EQ(avi.width.Selected(), 1);      // "320"
    EXPECT_EQ(avi.height.Selected(), 1);     // "240"
    EXPECT_EQ(avi.frameRate.Selected(), 6);  // "25" in the AVI form
    EXPECT_EQ(avi.videoList.Selected(), 0);  // "_Uncompressed_"
    EXPECT_EQ(avi.audioList.Selected(), 0);

    Lists mpeg;
    mpeg.frameRate = FakeList(5);
    r.Restore(Mpeg, mpeg.all());
    EXPECT_EQ(mpeg.frameRate.Selected(), 2);  // "25" in the MPEG form
    EXPECT_EQ(mpeg.videoList.Selected(), 0);  // "MPEG-2" stays
    EXPECT_EQ(mpeg.audioList.Selected(), 0);  // "PAL"
}

TEST_F(RememberedSelectionsTest, SaveWritesOnlyTheCurrentFormatAndRoundTrips) {
    CProfileStore::SetInt("Settings", "MpegWidth", 7);
    CProfileStore::SetInt("Settings", "WavAudio", 2);

    Lists avi;
    avi.width.Select(0);  // "160": stored as 0, comes back as the default
    avi.height.Select(4);
    avi.frameRate.Select(8);
    avi.videoList.Select(3);
    avi.audioList.Select(2);
    RememberedSelections r;
    AudioParams audio;
    audio.formatIndex = 9;
    r.Capture(Avi, avi.all(), audio);
    r.Save(Avi);

    EXPECT_EQ(Stored("AviWidth"), 0);
    EXPECT_EQ(Stored("AviHeight"), 4);
    EXPECT_EQ(Stored("AviFrameRate"), 8);
    EXPECT_EQ(Stored("AviVideo"), 3);
    EXPECT_EQ(Stored("AviAudio"), 2);
    EXPECT_EQ(Stored("MpegWidth"), 7);  // other formats untouched
    EXPECT_EQ(Stored("WavAudio"), 2);
    EXPECT_EQ(Stored("WavAudioSet"), -99);  // formatIndex is captured in WAV/MP3 only
    EXPECT_EQ(Stored("MpegHeight"), -99);

    RememberedSelections again;
    again.Load(audio);
    Lists restored;
    again.Restore(Avi, restored.all());
    EXPECT_EQ(restored.width.Selected(), 1);
    EXPECT_EQ(restored.height.Selected(), 4);
    EXPECT_EQ(restored.frameRate.Selected(), 8);
    EXPECT_EQ(restored.videoList.Selected(), 3);
    EXPECT_EQ(restored.audioList.Selected(), 2);
}

TEST_F(RememberedSelectionsTest, WavFormatCapturesAudioFormatIndexAsWavAudioSet) {
    Lists wav;
    wav.audioList.Select(2);
    RememberedSelections r;
    AudioParams audio;
    audio.formatIndex = 3;
    r.Capture(WavMp3, wav.all(), audio);
    r.Save(WavMp3);
    EXPECT_EQ(Stored("WavAudio"), 2);
    EXPECT_EQ(Stored("WavAudioSet"), 3);
    EXPECT_EQ(Stored("AviWidth"), -99);

    // Loading hands the WAV format position to the audio parameters whatever the format.
    AudioParams loaded;
    RememberedSelections(r).Load(loaded);
    EXPECT_EQ(loaded.formatIndex, 3);
}

TEST_F(RememberedSelectionsTest, PositionBeyondAListLeavesItWithoutSelection) {
    CProfileStore::SetInt("Settings", "AviVideo", 12);
    CProfileStore::SetInt("Settings", "AviWidth", 8);
    RememberedSelections r;
    AudioParams audio;
    r.Load(audio);
    Lists avi;
    avi.videoList.Select(1);
    r.Restore(Avi, avi.all());
    EXPECT_EQ(avi.videoList.Selected(), -1);
    EXPECT_EQ(avi.width.Selected(), -1);
    EXPECT_EQ(avi.height.Selected(), 1);
}
