#include "writers/events.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
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

// The message with the file and the reason (what the command line prints).
std::string WriteDetail(const QString& path, const QByteArray& text) {
    try {
        WriteClassFile(path, text);
    } catch (const EClassFileError& e) {
        return e.Detail();
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
    setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, SIG_IGN);
    const std::string detail = WriteDetail(path, QByteArray(4096, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(detail, "Stream write error: " + path.toStdString() + ": " + std::strerror(EFBIG));
    EXPECT_EQ(Entries(dir.path()), QStringList{"H.qbc"});
}

// What is not a regular file: a FIFO or a device is written as it is (never replaced by a
// regular file) and its write errors reported; anything else is refused. A symbolic link to a
// regular file stays a link, its file replaced.
TEST(ClassFileTest, FifosDevicesAndLinksKeepWhatTheyAre) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.qbc");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray read;
    std::thread reader([&] { read = ReadAll(fifo); });
    EXPECT_EQ(WriteError(fifo, "through the pipe\r\n"), "");
    // Should the write not have opened the pipe, this ends the reader's wait.
    const int unblock = open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0) close(unblock);
    reader.join();
    EXPECT_EQ(read, QByteArray("through the pipe\r\n"));

    struct stat st;
    if (QFileInfo::exists("/dev/full")) {
        EXPECT_EQ(WriteError("/dev/full", "x"), "Stream write error");
        EXPECT_EQ(WriteDetail("/dev/full", "x"), std::string("Stream write error: /dev/full: ") + std::strerror(ENOSPC));
        ASSERT_EQ(stat("/dev/full", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    EXPECT_EQ(WriteError("/dev/null", "x"), "");
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    const QString socketPath = dir.filePath("s.qbc");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(socketPath).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(WriteError(socketPath, "x"), "Cannot create file " + socketPath.toStdString());
    EXPECT_EQ(WriteDetail(socketPath, "x"),
              "Cannot create file " + socketPath.toStdString() + ": not a regular file, FIFO or character device");
    close(fd);

    const QString file = dir.filePath("real.qbc"), link = dir.filePath("link.qbc");
    WriteAll(file, kOld);
    ASSERT_TRUE(QFile::link(file, link));
    EXPECT_EQ(WriteError(link, "new\r\n"), "");
    EXPECT_EQ(ReadAll(file), QByteArray("new\r\n"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(Entries(dir.path()), (QStringList{"link.qbc", "pipe.qbc", "real.qbc", "s.qbc"}));
}

TEST(ClassFileTest, ClassNameIsTheFileNameWithoutFolderAndLastExtension) {
    EXPECT_EQ(ClassNameFromFileName("/home/u/classes/Handler.old.qbc"), "Handler.old");
    EXPECT_EQ(ClassNameFromFileName("/home/u/My Panel Handler.qbc"), "My Panel Handler");
    EXPECT_EQ(ClassNameFromFileName("/home/u.d/Handler"), "Handler");
}
