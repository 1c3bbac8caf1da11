#include <gtest/gtest.h>

#include <QFile>
#include <QDir>
#include <QTemporaryDir>

#include "ProfileStore.h"

TEST(ProfileStore, IntegersRoundTripInTheSettingsGroupOfATemporaryFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CProfileStore::UseFolder(dir.path());
    EXPECT_TRUE(CProfileStore::FilePath().startsWith(dir.path()));
    EXPECT_TRUE(CProfileStore::FilePath().endsWith("Brontwell/kestrine.ini"));

    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 0);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "WavAudioSet", -1), -1);
    CProfileStore::SetInt("Settings", "AviWidth", 3);
    CProfileStore::SetInt("Settings", "WavAudioSet", -7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 3);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "WavAudioSet", -1), -7);

    QFile file(CProfileStore::FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[Settings]"));
    EXPECT_TRUE(text.contains("AviWidth=3"));
}

TEST(ProfileStore, NonNumericValueGivesTheDefault) {
    QTemporaryDir dir;
    CProfileStore::UseFolder(dir.path());
    QDir().mkpath(dir.path() + "/Brontwell");
    QFile file(dir.path() + "/Brontwell/kestrine.ini");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Settings]\nAviWidth=abc\nAviHeight=4\n");
    file.close();
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 0);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviHeight", 0), 4);
}
