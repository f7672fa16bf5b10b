// The index on disk: only changed files are read again; a damaged or foreign cache file is
// ignored and rebuilt, never trusted.
#include "indexenv.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <cstring>
#include <sys/stat.h>

namespace {

class CacheTest : public ::testing::Test {
protected:
    LibraryFolder folder{"QuibrelShared.tlb", "QuibrelTest.tlb", "QuibrelEvents.tlb"};
    QTemporaryDir cacheDir;
    QString cache = cacheDir.path() + "/quibrel/library-index.bin";

    std::shared_ptr<TLibraryIndex> Build(TIndexBuildStats* stats, const TLibraryIndex* previous = nullptr) {
        return BuildLibraryIndex(FolderSources(folder.Path()), cache, previous, nullptr, stats);
    }
    QByteArray CacheBytes() const {
        QFile f(cache);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void WriteCache(const QByteArray& bytes) {
        QFile f(cache);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
};

TEST_F(CacheTest, OnlyChangedFilesAreReadAgain) {
    TIndexBuildStats stats;
    auto first = Build(&stats);
    EXPECT_EQ(stats.FilesRead, 3);
    EXPECT_FALSE(stats.CacheRejected);
    ASSERT_TRUE(QFileInfo::exists(cache));

    // From the cache file, as a new run of the program would.
    auto second = Build(&stats);
    EXPECT_EQ(stats.FilesRead, 0);
    EXPECT_EQ(stats.FilesFromCache, 3);
    EXPECT_EQ(Answers(*second, "implements:ISharedThing"), Answers(*first, "implements:ISharedThing"));
    EXPECT_EQ(SerializeIndexFiles(second->Files), SerializeIndexFiles(first->Files));

    // QuibrelEvents.tlb becomes another library under the same name: only it is read again.
    folder.Add("QuibrelShared.tlb", "QuibrelEvents.tlb");
    QFile(folder.File("QuibrelEvents.tlb")).setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    auto third = Build(&stats, second.get());
    EXPECT_EQ(stats.FilesRead, 1);
    EXPECT_EQ(stats.FilesFromCache, 2);
    EXPECT_EQ(Answers(*third, "SharedThing"),
              (QStringList{"QuibrelEvents.tlb ISharedThing", "QuibrelEvents.tlb SharedThing",
                           "QuibrelShared.tlb ISharedThing", "QuibrelShared.tlb SharedThing"}));

    // The cache file learnt it too.
    Build(&stats);
    EXPECT_EQ(stats.FilesRead, 0);

    // A file gone is gone from the index.
    QFile::remove(folder.File("QuibrelEvents.tlb"));
    auto fourth = Build(&stats);
    EXPECT_EQ(fourth->Files.size(), 2u);
}

TEST_F(CacheTest, ADamagedOrForeignCacheFileIsRebuilt) {
    TIndexBuildStats stats;
    auto good = Build(&stats);
    const QByteArray bytes = CacheBytes();
    ASSERT_GT(bytes.size(), 100);

    QByteArray flipped = bytes;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x20);
    for (const QByteArray& bad : {QByteArray("not a cache"), QByteArray(), bytes.left(bytes.size() - 1), flipped,
                                  bytes + QByteArray("x")}) {
        WriteCache(bad);
        auto rebuilt = Build(&stats);
        EXPECT_TRUE(stats.CacheRejected);
        EXPECT_EQ(stats.FilesRead, 3);
        EXPECT_EQ(SerializeIndexFiles(rebuilt->Files), SerializeIndexFiles(good->Files));
        // ... and written afresh.
        std::vector<TIndexFilePtr> files;
        EXPECT_TRUE(ReadIndexCache(cache, &files));
        EXPECT_EQ(files.size(), 3u);
    }
}

// The checks behind the checksum: a file that carries a right checksum over wrong contents (a
// foreign writer, or a deliberate one) is still refused, never read out of bounds.
TEST_F(CacheTest, LyingCountsAndLengthsBehindAGoodChecksumAreRefused) {
    TIndexBuildStats stats;
    Build(&stats);
    const QByteArray bytes = CacheBytes();
    constexpr int kHeader = 32;  // magic, byte order, format, length, checksum
    auto withChecksum = [](QByteArray data) {
        const quint64 h = IndexCacheChecksum(data.constData() + kHeader, data.size() - kHeader);
        quint64 length = quint64(data.size() - kHeader);
        std::memcpy(data.data() + 16, &length, 8);
        std::memcpy(data.data() + 24, &h, 8);
        return data;
    };
    std::vector<TIndexFilePtr> files;
    ASSERT_TRUE(DeserializeIndexFiles(withChecksum(bytes), &files));

    QRandomGenerator random(17);
    int refused = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray damaged = bytes;
        if (i % 3 == 0) {
            damaged.truncate(kHeader + random.bounded(int(bytes.size() - kHeader)));
        } else {
            // Large values where counts and lengths are likely.
            const int at = kHeader + random.bounded(int(bytes.size() - kHeader - 4));
            const quint32 value = i % 3 == 1 ? 0xFFFFFFF0u : quint32(random.generate());
            std::memcpy(damaged.data() + at, &value, 4);
        }
        if (!DeserializeIndexFiles(withChecksum(damaged), &files)) {
            ++refused;
            EXPECT_TRUE(files.empty());
        }
    }
    EXPECT_GT(refused, 1000);
}

// A cache path that is no regular file is neither waited on (a FIFO), nor read without end
// (a link to /dev/zero), nor replaced; a cache far larger than its libraries could need is
// refused before it is read.
TEST_F(CacheTest, ACacheThatIsNoFileOrTooLargeIsRefused) {
    TIndexBuildStats stats;
    Build(&stats);
    const QByteArray good = CacheBytes();
    ASSERT_TRUE(QFile::remove(cache));

    ASSERT_EQ(::mkfifo(QFile::encodeName(cache).constData(), 0600), 0);
    auto index = Build(&stats);
    EXPECT_TRUE(stats.CacheRejected);
    EXPECT_EQ(stats.FilesRead, 3);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(cache).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_TRUE(QFile::remove(cache));

    ASSERT_TRUE(QFile::link("/dev/zero", cache));
    Build(&stats);
    EXPECT_TRUE(stats.CacheRejected);
    EXPECT_EQ(QFileInfo(cache).symLinkTarget(), "/dev/zero");
    ASSERT_TRUE(QFile::remove(cache));

    // The same records under a payload that claims 64 MiB more than they are.
    QByteArray padded = good;
    quint64 length;
    std::memcpy(&length, padded.constData() + 16, 8);
    length += quint64(64) << 20;
    std::memcpy(padded.data() + 16, &length, 8);
    WriteCache(padded);
    QFile(cache).resize(qint64(32 + length));
    std::vector<TIndexFilePtr> files;
    bool rejected = false;
    EXPECT_FALSE(ReadIndexCache(cache, &files, &rejected));
    EXPECT_TRUE(rejected);
    WriteCache(good);
    EXPECT_TRUE(ReadIndexCache(cache, &files, &rejected));
    EXPECT_EQ(files.size(), 3u);
}

TEST_F(CacheTest, TheCacheFolderFollowsTheEnvironment) {
    const QByteArray saved = qgetenv("QUIBREL_CACHE_DIR");
    qunsetenv("QUIBREL_CACHE_DIR");
    qputenv("XDG_CACHE_HOME", "/tmp/xdg-cache");
    EXPECT_EQ(IndexCachePath(), "/tmp/xdg-cache/quibrel/library-index.bin");
    qputenv("XDG_CACHE_HOME", "");
    EXPECT_EQ(IndexCachePath(), QDir::homePath() + "/.cache/quibrel/library-index.bin");
    qputenv("QUIBREL_CACHE_DIR", "/tmp/elsewhere");
    EXPECT_EQ(IndexCachePath(), "/tmp/elsewhere/library-index.bin");
    if (saved.isNull()) qunsetenv("QUIBREL_CACHE_DIR");
    else qputenv("QUIBREL_CACHE_DIR", saved);
}

}  // namespace
