#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "ProfileStore.h"

namespace {

class ProfileStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CProfileStore::UseFolder(m_dir.path());
        ASSERT_TRUE(QDir().mkpath(Folder()));
    }
    QString Folder() const { return m_dir.path() + "/Brontwell"; }
    QString Path() const { return Folder() + "/kestrine.ini"; }
    void Write(const QByteArray& bytes) const {
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    QByteArray Read(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList SetAside() const {
        return QDir(Folder()).entryList({"kestrine.ini.corrupt-*"}, QDir::Files);
    }

    QTemporaryDir m_dir;
};

// A read-only bind mount of a folder over itself; unmounted on destruction. Mounting needs
// privileges that a test machine may not grant: then Mounted() is false.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const QString& folder) : m_folder(folder.toLocal8Bit()) {
        if (mount(m_folder.constData(), m_folder.constData(), nullptr, MS_BIND, nullptr) != 0)
            return;
        m_bound = true;
        m_mounted = mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                          nullptr) == 0;
    }
    ~ReadOnlyMount() {
        if (m_bound) umount(m_folder.constData());
    }
    bool Mounted() const { return m_mounted; }

private:
    QByteArray m_folder;
    bool m_bound = false;
    bool m_mounted = false;
};

}  // namespace

TEST_F(ProfileStoreTest, IntegersRoundTripInTheSettingsGroupOfATemporaryFolder) {
    EXPECT_EQ(CProfileStore::FilePath(), Path());

    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 0);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "WavAudioSet", -1), -1);
    CProfileStore::SetInt("Settings", "AviWidth", 3);
    CProfileStore::SetInt("Settings", "WavAudioSet", -7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 3);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "WavAudioSet", -1), -7);

    QByteArray text = Read(Path());
    EXPECT_TRUE(text.contains("[Settings]"));
    EXPECT_TRUE(text.contains("AviWidth=3"));
    EXPECT_TRUE(CProfileStore::IsSoundProfile(text));
}

TEST_F(ProfileStoreTest, BadValuesGiveTheDefaultAndTheRestOfTheFileIsKept) {
    Write(
        "; edited by hand\n[Settings]\nAviWidth=abc\nAviHeight=4\nAviVideo=99999999999\n"
        "AviAudio=0x10\nAviFrameRate=1e3\nMpegType=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x3)\n"
        "MpegWidth=\nMpegHeight = 5 \nWavAudio=-3\n");
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 7), 7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviVideo", 7), 7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviAudio", 7), 7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviFrameRate", 7), 7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "MpegType", 7), 7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "MpegWidth", 7), 7);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviHeight", 7), 4);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "MpegHeight", 7), 5);
    // A position outside a list is the settings dialog's business (it leaves the list
    // without a selection); the store hands it over unchanged.
    EXPECT_EQ(CProfileStore::GetInt("Settings", "WavAudio", 7), -3);

    CProfileStore::SetInt("Settings", "AviWidth", 2);
    EXPECT_TRUE(SetAside().isEmpty());
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 7), 2);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviHeight", 7), 4);
}

TEST_F(ProfileStoreTest, EmptyFileGivesDefaultsAndIsWrittenNormally) {
    Write("");
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 5), 5);
    CProfileStore::SetInt("Settings", "AviWidth", 1);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 5), 1);
    EXPECT_TRUE(SetAside().isEmpty());
}

// Every damaged profile is moved aside byte for byte, defaults are used, and the next write
// starts a fresh file.
TEST_F(ProfileStoreTest, DamagedFileIsSetAsideAndDefaultsAreUsed) {
    const QByteArray good = "[Settings]\nAviWidth=3\nAviHeight=2\n";
    QByteArray random(3000, '\0');
    QRandomGenerator rng(42);
    for (char& c : random) c = char(rng.bounded(256));
    const std::vector<std::pair<const char*, QByteArray>> damaged = {
        {"random bytes", random},
        {"cut inside a key", "[Settings]\nAviWidth=3\nAviHei"},
        {"cut inside a value", "[Settings]\nAviWidth=3\nAviHeight=2"},
        {"cut inside a section name", "[Sett"},
        {"zeros after the text", good + QByteArray(512, '\0')},
        {"only zeros", QByteArray(4096, '\0')},
        {"invalid UTF-8", "[Settings]\nAviWidth=\xff\xfe\n"},
        {"too large", "[Settings]\n" + QByteArray("; pad\n").repeated(20000)},
    };
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        for (const QString& old : SetAside()) QFile::remove(Folder() + "/" + old);
        Write(bytes);
        EXPECT_FALSE(CProfileStore::IsSoundProfile(bytes));

        EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 9), 9);
        EXPECT_FALSE(QFile::exists(Path()));
        QStringList aside = SetAside();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(CProfileStore::SetAsidePath(), Folder() + "/" + aside[0]);
        EXPECT_EQ(Read(CProfileStore::SetAsidePath()), bytes);

        CProfileStore::SetInt("Settings", "AviHeight", 4);
        EXPECT_EQ(Read(Path()), "[Settings]\nAviHeight=4\n");
        EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 9), 9);
    }
}

TEST_F(ProfileStoreTest, SecondDamagedFileInTheSameSecondGetsItsOwnName) {
    Write("garbage");
    CProfileStore::GetInt("Settings", "AviWidth", 0);
    Write("more garbage");
    CProfileStore::GetInt("Settings", "AviWidth", 0);
    EXPECT_EQ(SetAside().size(), 2);
}

// QSettings waits without limit for the lock file beside the profile and takes a lock file
// that names no live process as stale only after 30 s; the store must not wait like that.
TEST_F(ProfileStoreTest, StaleOrUnreadableLockFileDoesNotHoldUpAWrite) {
    Write("[Settings]\nAviWidth=3\n");
    for (const QByteArray& lockText : {QByteArray("garbage"), QByteArray("999999\nkestrine\n")}) {
        SCOPED_TRACE(lockText.constData());
        QFile lock(Path() + ".lock");
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write(lockText);
        lock.close();
        QElapsedTimer timer;
        timer.start();
        CProfileStore::SetInt("Settings", "AviWidth", 6);
        EXPECT_LT(timer.elapsed(), CProfileStore::kLockWaitMs + 2000);
        EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 6);
        EXPECT_FALSE(QFile::exists(Path() + ".lock"));
        CProfileStore::SetInt("Settings", "AviWidth", 3);
    }
}

// A lock held by a live writer (QLockFile keeps an flock on it) cannot be broken, and one
// that is not a file cannot be taken: the write is given up after a bounded wait.
TEST_F(ProfileStoreTest, HeldOrUnremovableLockGivesUpTheWriteInBoundedTime) {
    Write("[Settings]\nAviWidth=3\n");
    {
        QLockFile held(Path() + ".lock");
        ASSERT_TRUE(held.tryLock(0));
        QElapsedTimer timer;
        timer.start();
        CProfileStore::SetInt("Settings", "AviWidth", 6);
        EXPECT_LT(timer.elapsed(), CProfileStore::kLockWaitMs + 2000);
        EXPECT_TRUE(held.isLocked());
        EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 3);
    }
    ASSERT_TRUE(QDir().mkpath(Path() + ".lock/inside"));
    QElapsedTimer timer;
    timer.start();
    CProfileStore::SetInt("Settings", "AviWidth", 8);
    EXPECT_LT(timer.elapsed(), CProfileStore::kLockWaitMs + 2000);
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 3);
}

TEST_F(ProfileStoreTest, ReadOnlyFolderIsReadButNeitherWrittenNorSetAside) {
    Write("[Settings]\nAviWidth=3\n");
    {
        ReadOnlyMount readOnly(Folder());
        if (!readOnly.Mounted()) GTEST_SKIP() << "cannot make a read-only bind mount here";
        EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 3);
        CProfileStore::SetInt("Settings", "AviWidth", 6);
        EXPECT_EQ(Read(Path()), "[Settings]\nAviWidth=3\n");
    }
    // A damaged profile that cannot be moved aside is not trusted and not overwritten.
    Write(QByteArray("[Settings]\nAviWidth=3\n\0\0\0", 25));
    ReadOnlyMount readOnly(Folder());
    ASSERT_TRUE(readOnly.Mounted());
    EXPECT_EQ(CProfileStore::GetInt("Settings", "AviWidth", 0), 0);
    CProfileStore::SetInt("Settings", "AviWidth", 6);
    EXPECT_EQ(Read(Path()), QByteArray("[Settings]\nAviWidth=3\n\0\0\0", 25));
    EXPECT_TRUE(SetAside().isEmpty());
}
