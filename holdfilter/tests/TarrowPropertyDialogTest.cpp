#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "TarrowPropertyDialog.h"
#include "TarrowRange.h"

TEST(TarrowPropertyDialogTest, EditsTheStoreInMilliseconds) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    VireoProperties* store = nullptr;
    ASSERT_EQ(VireoProperties::Create(&store), S_OK);
    tarrow::WriteRange(store, 15000000, 0);
    {
        CTarrowPropertyDialog dialog;
        EXPECT_EQ(dialog.ConnectElement(nullptr), E_NOINTERFACE);
        ASSERT_EQ(dialog.Connect(store), S_OK);
        EXPECT_EQ(dialog.StartPointEdit()->text(), "1500");
        EXPECT_EQ(dialog.DurationEdit()->text(), "0");
        EXPECT_FALSE(dialog.ApplyButton()->isEnabled());

        dialog.show();
        dialog.StartPointEdit()->selectAll();
        QTest::keyClicks(dialog.StartPointEdit(), "2500");
        EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
        QTest::mouseClick(dialog.ApplyButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
    }
    std::int64_t start = 0;
    tarrow::ReadRange(store, tarrow::kStartPointKey, &start);
    EXPECT_EQ(start, 25000000);
    EXPECT_EQ(store->Release(), 0u);  // the dialog gave its reference back
}
