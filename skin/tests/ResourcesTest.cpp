#include <gtest/gtest.h>

#include <QImage>
#include <map>

#include "ResourceIds.h"
#include "SkinBitmaps.h"
#include "TestApp.h"
#include "UiText.h"

namespace {

TEST(Resources, EveryBitmapIsCompiledInAtItsSize) {
    const std::map<int, QSize> sizes = {
        {IDB_ROW_AUDIO, {20, 20}},
        {IDB_ROW_VIDEO, {20, 20}},
        {IDB_ROW_VIDEO_AUDIO, {20, 20}},
        {IDB_CMD_ADD_CLIP, {40, 35}},
        {IDB_CMD_REMOVE_CLIP, {40, 35}},
        {IDB_CMD_CONVERT, {40, 35}},
        {IDB_CMD_STOP, {40, 35}},
        {IDB_CMD_HELP, {40, 35}},
        {IDB_CMD_EXIT, {40, 35}},
        {IDB_CMD_HOME_PAGE, {40, 35}},
        {IDB_CMD_SUPPORT, {40, 35}},
        {IDB_CONTROL, {58, 46}},
        {IDB_MAIN_BACKGROUND, {597, 478}},
        {IDB_SETTINGS_BACKGROUND, {347, 265}},
        {IDB_AUDIO_BACKGROUND, {205, 265}},
        {IDB_BTN_EXIT, {20, 20}},
        {IDB_BTN_MINIMIZE, {20, 20}},
        {IDB_BTN_BROWSE, {20, 20}},
        {IDB_BTN_MORE, {20, 20}},
        {IDB_BTN_START_CONVERSION, {100, 25}},
        {IDB_BTN_OK, {78, 25}},
        {IDB_BTN_CANCEL, {78, 25}},
    };
    for (const auto& [id, size] : sizes) {
        QImage image(BitmapPath(id));
        ASSERT_FALSE(image.isNull()) << id;
        EXPECT_EQ(image.size(), size) << id;
    }
    EXPECT_FALSE(QImage(BitmapPath(IDR_MAINFRAME)).isNull());
}

TEST(Resources, MaskedBitmapsMakeBlackTransparent) {
    TestApp();
    QImage masked = LoadMaskedBitmap(IDB_CMD_STOP, QSize(40, 35)).toImage();
    ASSERT_EQ(masked.size(), QSize(40, 35));
    // The corner is outside the icon's badge; the centre is opaque artwork.
    EXPECT_EQ(qAlpha(masked.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(masked.pixel(20, 16)), 255);
    EXPECT_TRUE(LoadSkinBitmap(9999).isNull());
    // A request at another size is scaled.
    EXPECT_EQ(LoadSkinBitmap(IDB_BTN_EXIT, QSize(15, 15)).size(), QSize(15, 15));
}

TEST(UiText, EightBitTextsShowTheirCharacters) {
    EXPECT_EQ(UiText("\x95 to: clip.avi"), QString::fromUtf8("\u2022 to: clip.avi"));
    EXPECT_EQ(UiText("caf\xE9 \x80"), QString::fromUtf8("caf\u00E9 \u20AC"));
    // Valid UTF-8 (file names, framework messages) is taken as such.
    EXPECT_EQ(UiText("caf\xC3\xA9 \xE2\x80\xA2"), QString::fromUtf8("caf\u00E9 \u2022"));
    EXPECT_EQ(UiText(""), QString());
    EXPECT_EQ(FromWindows1252("\x81\x9F"), QString::fromUtf8("\u0081\u0178"));
}

}  // namespace
