// The command-line manners of both programs: options, operands, --help, --version, usage errors.
#include "app/cmdline.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct TRun {
    int exitCode = -1;
    QString out, err;
};

// Runs a program without a display, as a terminal user would.
TRun RunProgram(const char* program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QString::fromUtf8(program), args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(CommandLine, OperandsReachTheWindowAsGiven) {
    EXPECT_EQ(ParseCommandLine({}).Operands, QStringList());
    EXPECT_EQ(ParseCommandLine({"lib.tlb", "Panel", "Click", "extra"}).Operands,
              QStringList({"lib.tlb", "Panel", "Click", "extra"}));
    // "--" ends the options; "-" alone is an operand.
    EXPECT_EQ(ParseCommandLine({"--", "-odd.tlb", "Panel"}).Operands, QStringList({"-odd.tlb", "Panel"}));
    EXPECT_EQ(ParseCommandLine({"--", "--", "x"}).Operands, QStringList({"--", "x"}));
    EXPECT_EQ(ParseCommandLine({"-"}).Operands, QStringList({"-"}));
    // After the first operand nothing is an option: a second copy started on a type whose
    // name starts with "-" selects it.
    const TCommandLine late = ParseCommandLine({"lib.tlb", "--help", "-x"});
    EXPECT_EQ(late.Action, TCommandLine::Run);
    EXPECT_EQ(late.Operands, QStringList({"lib.tlb", "--help", "-x"}));
}

TEST(CommandLine, OptionsAndQtsOwn) {
    EXPECT_EQ(ParseCommandLine({"--help"}).Action, TCommandLine::Help);
    EXPECT_EQ(ParseCommandLine({"-h", "lib.tlb"}).Action, TCommandLine::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).Action, TCommandLine::Version);
    EXPECT_EQ(ParseCommandLine({"-style", "fusion", "-reverse", "--platform=offscreen", "lib.tlb"}).Operands,
              QStringList({"lib.tlb"}));

    const TCommandLine unknown = ParseCommandLine({"--bogus", "lib.tlb"});
    EXPECT_EQ(unknown.Action, TCommandLine::UsageError);
    EXPECT_EQ(unknown.Error, "unknown option '--bogus'");
    EXPECT_EQ(ParseCommandLine({"-v"}).Action, TCommandLine::UsageError);
    EXPECT_EQ(ParseCommandLine({"-style"}).Action, TCommandLine::UsageError);  // its value is missing
}

TEST(CommandLine, BrowserAnswersWithoutADisplay) {
    TRun version = RunProgram(QUIBREL_BROWSER, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quibrel-browser " QUIBREL_VERSION "\n");

    TRun help = RunProgram(QUIBREL_BROWSER, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(CommandLineUsage())) << help.out.toStdString();
    EXPECT_TRUE(help.err.isEmpty());

    TRun bad = RunProgram(QUIBREL_BROWSER, {"--bogus"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_EQ(bad.err, "quibrel-browser: unknown option '--bogus'\n" + CommandLineUsage());
}

TEST(CommandLine, CompanionHelpVersionAndUsageErrors) {
    TRun version = RunProgram(QUIBREL_TLB, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quibrel-tlb " QUIBREL_VERSION "\n");

    // Every command has its line and a summary under it.
    TRun help = RunProgram(QUIBREL_TLB, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* line : {"\n  dump FILE\n      ", "\n  describe FILE\n      ", "\n  registered [--check]\n      ",
                             "\n  walk FILE [--repeat N]\n      ", "\n  template FILE INTERFACE ",
                             "\n  find QUERY [--registered] [--dir DIR]... [--json]\n      ",
                             "\n  idl FILE [TYPE...] [--output PATH]\n      ", "\n  json FILE [--pretty]\n      "})
        EXPECT_TRUE(help.out.contains(QString::fromUtf8(line))) << line;

    TRun one = RunProgram(QUIBREL_TLB, {"dump", "--help"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_TRUE(one.out.startsWith("usage: quibrel-tlb dump FILE\n")) << one.out.toStdString();

    for (const QStringList& args : {QStringList{}, QStringList{"--bogus"}, QStringList{"bogus"}}) {
        TRun bad = RunProgram(QUIBREL_TLB, args);
        EXPECT_EQ(bad.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(bad.out.isEmpty());
        EXPECT_TRUE(bad.err.contains("usage: quibrel-tlb COMMAND ARGS...\n"));
        EXPECT_TRUE(bad.err.contains("\n  dump FILE\n"));
    }
}
