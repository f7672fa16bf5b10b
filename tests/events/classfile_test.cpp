#include "writers/events.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The message of the error a write raises; empty when it succeeds.
std::string WriteError(const QString& path, const QByteArray& text) {
    try {
        WriteClassFile(path, text);
    } catch (const EClassFileError& e) {
        return e.what();
    }
    return {};
}

const QByteArray kOld = "old contents that must survive\r\n";

}  // namespace

TEST(ClassFileTest, EveryLineEndsWithCrLfInUtf8) {
    EXPECT_EQ(ClassFileText({"DEF CLASS \"Größe\"", "", "STOP"}), QByteArray("DEF CLASS \"Gr\xC3\xB6\xC3\x9F" "e\"\r\n\r\nSTOP\r\n"));
    EXPECT_EQ(ClassFileText({}), QByteArray());
}

TEST(ClassFileTest, CreatesAndReplacesWithoutLeftovers) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Panel Handler.qbc");
    ASSERT_EQ(WriteError(path, "first, the longer text\r\n"), "");
    ASSERT_EQ(WriteError(path, "second\r\n"), "");
    EXPECT_EQ(ReadAll(path), QByteArray("second\r\n"));
    EXPECT_EQ(Entries(dir.path()), QStringList{"Panel Handler.qbc"});

    // A new file gets the usual permissions, not those of a private temporary file.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(ClassFileTest, TargetsThatCannotBeCreatedAreReported) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("no such folder/H.qbc");
    EXPECT_EQ(WriteError(missing, "x"), "Cannot create file " + missing.toStdString());

    const QString folder = dir.filePath("folder.qbc");
    ASSERT_TRUE(QDir().mkdir(folder));
    EXPECT_EQ(WriteError(folder, "x"), "Cannot create file " + folder.toStdString());
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(Entries(dir.path()), QStringList{"folder.qbc"});
}

TEST(ClassFileTest, ProtectedFileOrFolderKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("H.qbc");
    WriteAll(path, kOld);

    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0444), 0);
    if (access(QFile::encodeName(path).constData(), W_OK) == 0) GTEST_SKIP() << "permissions are not enforced for this user";
    EXPECT_EQ(WriteError(path, "new\r\n"), "Cannot create file " + path.toStdString());
    EXPECT_EQ(ReadAll(path), kOld);

    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0644), 0);
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    EXPECT_EQ(WriteError(path, "new\r\n"), "Cannot create file " + path.toStdString());
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(ReadAll(path), kOld);
    EXPECT_EQ(Entries(dir.path()), QStringList{"H.qbc"});
}

TEST(ClassFileTest, FolderThatNoOneMayWriteKeepsItsFile) {
    // Nothing can be created in /proc, whoever runs the test.
    const QString path = "/proc/version";
    const QByteArray before = ReadAll(path);
    if (!QFileInfo(path).isFile() || before.isEmpty()) GTEST_SKIP() << "no /proc";
    EXPECT_EQ(WriteError(path, "new\r\n"), "Cannot create file /proc/version");
    EXPECT_EQ(ReadAll(path), before);
}

TEST(ClassFileTest, FailedWriteKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("H.qbc");
    WriteAll(path, kOld);

    // Files of this process may not grow past 16 bytes for the moment.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error = WriteError(path, QByteArray(4096, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(ReadAll(path), kOld);
    EXPECT_EQ(Entries(dir.path()), QStringList{"H.qbc"});
}

TEST(ClassFileTest, ClassNameIsTheFileNameWithoutFolderAndLastExtension) {
    EXPECT_EQ(ClassNameFromFileName("/home/u/classes/Handler.old.qbc"), "Handler.old");
    EXPECT_EQ(ClassNameFromFileName("/home/u/My Panel Handler.qbc"), "My Panel Handler");
    EXPECT_EQ(ClassNameFromFileName("/home/u.d/Handler"), "Handler");
}
