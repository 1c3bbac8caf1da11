#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "ResourceIds.h"
#include "SkinDialog.h"
#include "TestApp.h"

namespace {

using Kind = CSkinDialog::ControlKind;

TEST(SkinDialog, ControlColoursFollowTheBrushesTheDialogHas) {
    TestApp();
    CSkinDialog both(IDD_SETTINGS, nullptr, IDB_SETTINGS_BACKGROUND, IDB_CONTROL);
    ASSERT_NE(both.BackgroundBrush().style(), Qt::NoBrush);
    ASSERT_NE(both.ControlBrush().style(), Qt::NoBrush);
    EXPECT_EQ(both.CtlColor(Kind::Dialog).brush, both.BackgroundBrush());
    EXPECT_EQ(both.CtlColor(Kind::Static).text, QColor(76, 76, 96));
    EXPECT_TRUE(both.CtlColor(Kind::Static).transparentText);
    EXPECT_EQ(both.CtlColor(Kind::Static).brush, both.ControlBrush());
    for (Kind kind : {Kind::Edit, Kind::ListBox, Kind::MessageBox}) {
        auto colours = both.CtlColor(kind);
        EXPECT_EQ(colours.text, QColor(76, 76, 96));
        EXPECT_EQ(colours.textBackground, QColor(226, 226, 226));
        EXPECT_EQ(colours.brush, both.ControlBrush());
    }
    EXPECT_EQ(both.CtlColor(Kind::Button).brush, both.ControlBrush());
    EXPECT_FALSE(both.CtlColor(Kind::Button).text.isValid());

    // Without a control bitmap the background brush stands in, except for statics.
    CSkinDialog backgroundOnly(IDD_AUDIO_FORMAT, nullptr, IDB_AUDIO_BACKGROUND, 0);
    EXPECT_EQ(backgroundOnly.ControlBrush().style(), Qt::NoBrush);
    EXPECT_EQ(backgroundOnly.CtlColor(Kind::Edit).brush, backgroundOnly.BackgroundBrush());
    EXPECT_EQ(backgroundOnly.CtlColor(Kind::ScrollBar).brush, backgroundOnly.BackgroundBrush());
    EXPECT_EQ(backgroundOnly.CtlColor(Kind::Static).brush.style(), Qt::NoBrush);

    // Without a background brush everything is the platform's.
    CSkinDialog plain(IDD_MAIN, nullptr, 0, IDB_CONTROL);
    for (Kind kind : {Kind::Dialog, Kind::Static, Kind::Edit, Kind::Button}) {
        EXPECT_EQ(plain.CtlColor(kind).brush.style(), Qt::NoBrush);
        EXPECT_FALSE(plain.CtlColor(kind).text.isValid());
    }
}

TEST(SkinDialog, ControlsAreSkinnedByKindWhenShown) {
    TestApp();
    CSkinDialog dialog(IDD_SETTINGS, nullptr, IDB_SETTINGS_BACKGROUND, IDB_CONTROL);
    auto* label = new QLabel("Output format:", &dialog);
    auto* edit = new QLineEdit(&dialog);
    auto* listBox = new QListWidget(&dialog);
    auto* iconList = new QListWidget(&dialog);
    iconList->setViewMode(QListView::IconMode);
    QPalette iconListBefore = iconList->palette();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(76, 76, 96));
    EXPECT_EQ(label->palette().brush(QPalette::Window), dialog.ControlBrush());
    EXPECT_TRUE(label->autoFillBackground());
    EXPECT_EQ(edit->palette().brush(QPalette::Base), dialog.ControlBrush());
    EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(76, 76, 96));
    EXPECT_EQ(listBox->palette().brush(QPalette::Base), dialog.ControlBrush());
    EXPECT_EQ(iconList->palette(), iconListBefore);
    EXPECT_EQ(dialog.palette().brush(QPalette::Window), dialog.BackgroundBrush());
    EXPECT_EQ(CSkinDialog::KindOf(&dialog), Kind::Dialog);
}

TEST(SkinDialog, OnlyPressesInTheTopBandStartAWindowMove) {
    TestApp();
    CSkinDialog dialog(IDD_SETTINGS, nullptr, IDB_SETTINGS_BACKGROUND, IDB_CONTROL);
    dialog.resize(dialog.DialogUnits().Size(229, 161));
    // Static texts do not take presses: one in the band moves the window too.
    auto* title = new QLabel("Settings", &dialog);
    title->setGeometry(100, 5, 80, 15);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy drags(&dialog, &CSkinDialog::windowDragStarted);

    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(10, 29));
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(10, 29));
    ASSERT_EQ(drags.count(), 1);
    EXPECT_EQ(drags.takeFirst().at(0).toPoint(), QPoint(10, 29));

    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(10, 30));
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(10, 30));
    QTest::mousePress(&dialog, Qt::RightButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&dialog, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(drags.count(), 0);

    QTest::mousePress(title, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(drags.count(), 1);

    EXPECT_TRUE(dialog.InDragBand(QPoint(399, 0)));
    EXPECT_FALSE(dialog.InDragBand(QPoint(400, 10)));
}

TEST(DialogUnits, TemplateFontGivesTheArtworkSizes) {
    TestApp();
    CDialogUnits units = CDialogUnits::Standard();
    EXPECT_EQ(units.BaseX(), 6);
    EXPECT_EQ(units.BaseY(), 13);
    // The main window's template is drawn for 597 x 476 pixels.
    EXPECT_EQ(units.Size(398, 293), QSize(597, 476));
    // Rounded to the nearest pixel: 13 x 12 units are the 20 x 20 faces of the small buttons.
    EXPECT_EQ(units.Size(13, 12), QSize(20, 20));
    EXPECT_EQ(units.Rect(65, 28, 326, 151), QRect(98, 46, 489, 245));
    CDialogUnits measured(7, 16);
    EXPECT_EQ(measured.Rect(4, 8, 8, 4), QRect(7, 16, 14, 8));
}

}  // namespace
