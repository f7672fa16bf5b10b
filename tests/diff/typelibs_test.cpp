// quibrel-tlb diff on real and damaged libraries: every library of ../shared/typelibs against
// itself is unchanged; a stdole2 without FontEvents against the platform's names that loss;
// the damaged inputs of ../shared/hostile, against themselves and against the library they
// were made from, finish with a documented status.
#include "diffrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

const QString kFiles = QStringLiteral(QUIBREL_TYPELIBS_DIR "/files");

bool Documented(int code) { return code == 0 || code == 1 || code == 4 || code == 5 || code == 12 || code == 13; }

TEST(DiffTypelibs, EveryLibraryAgainstItselfIsUnchanged) {
    if (!QDir(kFiles).exists()) GTEST_SKIP() << "no " << kFiles.toStdString();
    int count = 0;
    for (const QString& name : QDir(kFiles).entryList(QDir::Files, QDir::Name)) {
        const QString path = QDir(kFiles).filePath(name);
        DiffRun r = RunDiff({path, path, QStringLiteral("--all")});
        EXPECT_EQ(r.code, 0) << name.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.out, QByteArray()) << name.toStdString();
        ++count;
    }
    EXPECT_GT(count, 200);
}

TEST(DiffTypelibs, StdFontWithoutFontEvents) {
    const QString platform = QDir(kFiles).filePath(QStringLiteral("stdole2.tlb"));
    if (!QFile::exists(platform)) GTEST_SKIP() << "no " << platform.toStdString();
    QTemporaryDir dir;
    QFile::copy(QStringLiteral(QUIBREL_FIXTURE_DIR "/stdole/stdole2.tlb"), dir.filePath(QStringLiteral("stdole2.tlb")));
    const QString ours = dir.filePath(QStringLiteral("stdole-nofontevents.tlb"));
    const QString error = CompileIdl(QStringLiteral(QUIBREL_SOURCE_DIR "/tests/diff/StdFontWithoutEvents.idl"), ours);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    DiffRun r = RunDiff({platform, ours});
    EXPECT_EQ(r.code & 12, 12) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\nbreaking\tcoclass-interface-removed\tStdFont\t[default, source] FontEvents\n")) << r.out.toStdString();
}

// The library of ../shared/typelibs a damaged input was made from: the longest file name that
// its own name holds.
QString Original(const QString& damaged) {
    QString best;
    for (const QString& name : QDir(kFiles).entryList(QDir::Files))
        if (damaged.contains(name, Qt::CaseInsensitive) && name.size() > best.size()) best = name;
    return best.isEmpty() ? QString() : QDir(kFiles).filePath(best);
}

TEST(DiffDamaged, FinishWithADocumentedStatus) {
    const QDir hostile(QStringLiteral(QUIBREL_HOSTILE_DIR));
    if (!hostile.exists()) GTEST_SKIP() << "no " << hostile.path().toStdString();
    int count = 0;
    for (const QString& name : hostile.entryList({QStringLiteral("*.tlb"), QStringLiteral("*.bin"), QStringLiteral("*.ocx")}, QDir::Files)) {
        const QString path = hostile.filePath(name);
        QList<QStringList> runs{{path, path}};
        const QString original = Original(name);
        if (!original.isEmpty()) runs << QStringList{original, path} << QStringList{path, original};
        for (const QStringList& args : runs) {
            DiffRun r = RunDiff(args + QStringList{QStringLiteral("--all")}, 60000);
            EXPECT_TRUE(r.finished) << args.join(QLatin1Char(' ')).toStdString();
            EXPECT_TRUE(Documented(r.code)) << args.join(QLatin1Char(' ')).toStdString() << " exit " << r.code;
            ++count;
        }
        // Against itself: whatever could be read is unchanged.
        DiffRun self = RunDiff({path, path});
        EXPECT_EQ(self.code & ~1, 0) << name.toStdString() << "\n" << self.out.left(2000).toStdString();
    }
    EXPECT_GT(count, 10);
}

}  // namespace
