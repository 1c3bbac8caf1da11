// The temporary output under attack from another local user of a shared, writable folder: links
// planted where the program writes, files swapped while it writes, and the leftovers of dead runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "TempOutput.h"

namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

bool IsLink(const QString& path) {
    struct stat st = {};
    return lstat(path.toUtf8().constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The id of a process that has ended and been reaped.
long DeadProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

TEST(TempOutputTest, NeverWritesThroughALinkAndSweepsOnlyTheFilesOfDeadRuns) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString victim = dir.filePath("victim.txt");
    Write(victim, "the user's own data");
    const std::string destination = dir.filePath("clip_converted.avi").toStdString();

    // The name is unpredictable: two runs for the same destination never share a name, and it
    // carries this process for the sweep.
    CTempOutput first, second;
    std::string error;
    ASSERT_TRUE(first.Create(destination, &error)) << error;
    ASSERT_TRUE(second.Create(destination, &error)) << error;
    EXPECT_NE(first.TempPath(), second.TempPath());
    const std::string name =
        QFileInfo(QString::fromStdString(first.TempPath())).fileName().toStdString();
    EXPECT_EQ(CTempOutput::ProcessOfName(name), long(getpid())) << name;
    second.Discard();

    // Swapped for a link while being written: nothing opens it, nothing moves it into place.
    const QString temp = QString::fromStdString(first.TempPath());
    ASSERT_TRUE(QFile::remove(temp));
    ASSERT_TRUE(QFile::link(victim, temp));
    EXPECT_LT(CTempOutput::OpenOwnFile(first.TempPath(), O_WRONLY | O_TRUNC), 0);
    EXPECT_FALSE(first.StillOurs());
    EXPECT_FALSE(first.Commit(&error));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(destination)));
    EXPECT_TRUE(IsLink(temp));  // not ours to remove
    EXPECT_EQ(Read(victim), "the user's own data");
    QFile::remove(temp);

    // A link planted at the destination is replaced by the finished file, never written through.
    ASSERT_TRUE(QFile::link(victim, QString::fromStdString(destination)));
    CTempOutput run;
    ASSERT_TRUE(run.Create(destination, &error)) << error;
    const int fd = CTempOutput::OpenOwnFile(run.TempPath(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "RIFF", 4), 4);
    close(fd);
    ASSERT_TRUE(run.Commit(&error)) << error;
    EXPECT_FALSE(IsLink(QString::fromStdString(destination)));
    EXPECT_EQ(Read(QString::fromStdString(destination)), "RIFF");
    EXPECT_EQ(Read(victim), "the user's own data");

    // The sweep: only regular files of this program whose process has gone.
    const QString dead = QString(".a.avi.kestrine-%1-Ab3dE9.part").arg(DeadProcess());
    const QString live = QString(".b.avi.kestrine-%1-Zz9yX8.part").arg(long(getppid()));
    const QString deadLink = QString(".c.avi.kestrine-%1-Qq1wE2.part").arg(DeadProcess());
    const struct {
        QString name;
        bool link;
        bool swept;
    } files[] = {
        {dead, false, true},
        {live, false, false},
        {deadLink, true, false},
        {".d.avi.part", false, false},                     // another program's naming
        {".e.avi.kestrine-x1-Ab3dE9.part", false, false},  // not a process id
        {"f.avi.kestrine-1-Ab3dE9.part.keep", false, false},
    };
    for (const auto& f : files) {
        if (f.link)
            ASSERT_TRUE(QFile::link(victim, dir.filePath(f.name)));
        else
            Write(dir.filePath(f.name), "partial");
    }
    EXPECT_EQ(CTempOutput::SweepStale(dir.path().toStdString()), 1);
    for (const auto& f : files) {
        SCOPED_TRACE(f.name.toStdString());
        EXPECT_EQ(QFileInfo::exists(dir.filePath(f.name)) || IsLink(dir.filePath(f.name)),
                  !f.swept);
    }
    EXPECT_EQ(Read(victim), "the user's own data");
}

}  // namespace
