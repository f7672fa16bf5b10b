// quibrel-tlb idl: output, the named types, --output and its errors.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int code = -1;
    QByteArray out, err;
};

CliRun Tlb(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUIBREL_BINARY_DIR "/src/quibrel-tlb"), QStringList{QStringLiteral("idl")} + args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

const QString kTest = QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb");

TEST(IdlCommand, WholeLibraryOrNamedTypes) {
    CliRun all = Tlb({kTest});
    ASSERT_EQ(all.code, 0) << all.err.toStdString();
    EXPECT_TRUE(all.out.contains("library QuibrelTest\n{"));
    CliRun two = Tlb({kTest, QStringLiteral("bounds"), QStringLiteral("DPanel")});
    ASSERT_EQ(two.code, 0);
    EXPECT_TRUE(two.out.contains("struct Bounds {"));
    EXPECT_TRUE(two.out.contains("dispinterface DPanel {"));
    EXPECT_FALSE(two.out.contains("library"));
}

TEST(IdlCommand, ErrorsAndUsage) {
    EXPECT_EQ(Tlb({}).code, 2);
    EXPECT_EQ(Tlb({kTest, QStringLiteral("--bogus")}).code, 2);
    EXPECT_EQ(Tlb({kTest, QStringLiteral("--output")}).code, 2);
    CliRun missing = Tlb({QStringLiteral("/nonexistent/x.tlb")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "cannot load /nonexistent/x.tlb: no such file\n");
    CliRun noType = Tlb({kTest, QStringLiteral("NoSuchType")});
    EXPECT_EQ(noType.code, 1);
    EXPECT_TRUE(noType.err.startsWith("no type NoSuchType in ")) << noType.err.toStdString();
}

TEST(IdlCommand, OutputReplacesTheFileWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.idl"));
    CliRun w = Tlb({kTest, QStringLiteral("--output"), path});
    ASSERT_EQ(w.code, 0) << w.err.toStdString();
    EXPECT_TRUE(w.out.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), Tlb({kTest}).out);
    // A folder that does not exist: an error, and nothing left behind.
    CliRun bad = Tlb({kTest, QStringLiteral("--output"), dir.filePath(QStringLiteral("no/such/out.idl"))});
    EXPECT_EQ(bad.code, 1);
    EXPECT_FALSE(bad.err.isEmpty());
}

}  // namespace
