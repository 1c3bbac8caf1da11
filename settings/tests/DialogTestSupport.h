#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include "MediaFramework.h"
#include "ProfileStore.h"

// One QApplication per test process (offscreen under CTest). It is never destroyed: tearing
// Qt's GUI down from exit handlers, after the test framework is gone, crashes.
inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "settings_dialog_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Picks entry index of a drop-down list as the user's choice in its open list does: the entry
// becomes current and the list reports it as activated (programmatic selection does not).
inline void ChooseByClick(QComboBox* combo, int index) {
    ASSERT_TRUE(combo->isEnabled());
    ASSERT_LT(index, combo->count());
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    ASSERT_EQ(combo->currentIndex(), index);
}

inline void ChooseText(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    ChooseByClick(combo, index);
}

// Clicks a line of a list box.
inline void ClickRow(QListWidget* list, int row) {
    QListWidgetItem* item = list->item(row);
    ASSERT_NE(item, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    ASSERT_EQ(list->currentRow(), row);
}

// Each test gets a fresh, empty profile.
class DialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TestApp();
        ASSERT_EQ(InitMediaFramework(), S_OK);
    }
    void SetUp() override {
        ASSERT_TRUE(m_profile.isValid());
        CProfileStore::UseFolder(m_profile.path());
    }
    static int Stored(const char* name) { return CProfileStore::GetInt("Settings", name, -99); }

    QTemporaryDir m_profile;
};
