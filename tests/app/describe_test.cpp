// quibrel-tlb describe, run as a script would run it.
#include "appenv.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TRun {
    int exitCode = -1;
    QByteArray out, err;
};

// Runs the command in dir with a registry of its own, so nothing registered elsewhere shows.
TRun RunTlb(const QStringList& args, const QString& dir) {
    QTemporaryDir registry;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUIBREL_REGISTRY_DIR", registry.path() + "/own");
    env.insert("WINEPREFIX", registry.path() + "/prefix");
    env.insert("XDG_RUNTIME_DIR", registry.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(QUIBREL_TLB), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

}  // namespace

TEST(Describe, EveryConstructOfTheTestLibrary) {
    TRun run = RunTlb({"describe", "QuibrelTest.tlb"}, QStringLiteral(QUIBREL_FIXTURE_DIR));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile expected(QStringLiteral(APP_SOURCE_DIR "/QuibrelTest.describe"));
    ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
    const QByteArray want = expected.readAll();
    // Compare line by line, so a difference names its line.
    const QList<QByteArray> got = run.out.split('\n'), exp = want.split('\n');
    for (qsizetype i = 0; i < std::min(got.size(), exp.size()); ++i)
        ASSERT_EQ(got[i].toStdString(), exp[i].toStdString()) << "line " << i + 1;
    EXPECT_EQ(got.size(), exp.size());
}

TEST(Describe, FailuresAndUsage) {
    TRun bad = RunTlb({"describe", "AppCases.idl"}, QStringLiteral(APP_SOURCE_DIR));
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.out.isEmpty());
    // The companion's one line says why, in the words every command uses.
    EXPECT_EQ(bad.err, "cannot load AppCases.idl: not a type library\n");
    EXPECT_EQ(RunTlb({"describe"}, QStringLiteral(APP_SOURCE_DIR)).exitCode, 2);
}
