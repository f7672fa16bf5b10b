// Libraries and output files named by bytes that are not UTF-8: the companion run with such
// names as its arguments, and the window opened from such a command line.
#include "appenv.h"
#include "app/cmdline.h"
#include "common/bytedir.h"

#include <QTreeWidget>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char** environ;

namespace {

const char kBadName[] = "lib\xFF\xFE.tlb";
const char kShownName[] = "lib\xEF\xBF\xBD\xEF\xBF\xBD.tlb";  // how the bad bytes are shown

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs quibrel-tlb in dir with these arguments exactly as bytes (QProcess would pass text),
// with a registry of its own.
TRun RunTlb(const std::vector<std::string>& args, const std::string& dir) {
    const TByteDir scratch;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("QUIBREL_REGISTRY_DIR=" + scratch.path + "/own");
    env.push_back("WINEPREFIX=" + scratch.path + "/prefix");
    env.push_back("XDG_RUNTIME_DIR=" + scratch.path);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = QUIBREL_TLB;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string out = scratch.path + "/stdout", err = scratch.path + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid;
    TRun run;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadBytes(out);
    run.err = ReadBytes(err);
    return run;
}

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// A folder holding the test library under the bad name, and the library it imports.
struct TBadLibrary {
    TBadLibrary() {
        std::filesystem::copy_file(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb", dir.path + "/" + kBadName);
        std::filesystem::copy_file(QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb", dir.path + "/QuibrelShared.tlb");
    }
    TByteDir dir;
};

}  // namespace

TEST(FileNames, DumpAndDescribeOpenALibraryWhoseNameIsNotUtf8) {
    const TBadLibrary lib;
    ASSERT_FALSE(lib.dir.path.empty());
    const TRun dump = RunTlb({"dump", kBadName}, lib.dir.path);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    const TRun plainDump = RunTlb({"dump", "QuibrelTest.tlb"}, QUIBREL_FIXTURE_DIR);
    EXPECT_EQ(dump.out, plainDump.out);

    const TRun describe = RunTlb({"describe", kBadName}, lib.dir.path);
    ASSERT_EQ(describe.exitCode, 0) << describe.err;
    std::string want = ReadBytes(APP_SOURCE_DIR "/QuibrelTest.describe");
    const std::string plainRow = "info File\tQuibrelTest.tlb\n";
    ASSERT_NE(want.find(plainRow), std::string::npos);
    want.replace(want.find(plainRow), plainRow.size(), std::string("info File\t") + kShownName + "\n");
    EXPECT_EQ(describe.out, want);
}

TEST(FileNames, OutputFilesWhoseNamesAreNotUtf8) {
    const TBadLibrary lib;
    ASSERT_FALSE(lib.dir.path.empty());
    const std::string dir = lib.dir.path;
    const std::string classFile = "ev\xE9\xFF.cls", idlFile = "out\xFE.idl";
    const TRun shown = RunTlb({"template", kBadName, "DPanelEvents"}, dir);
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const TRun written = RunTlb({"template", kBadName, "DPanelEvents", "--output", classFile}, dir);
    ASSERT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(ReadBytes(dir + "/" + classFile), shown.out);

    const TRun idl = RunTlb({"idl", kBadName}, dir);
    ASSERT_EQ(idl.exitCode, 0) << idl.err;
    ASSERT_EQ(RunTlb({"idl", kBadName, "--output", idlFile}, dir).exitCode, 0);
    // Written twice: the second replaces the first.
    ASSERT_EQ(RunTlb({"idl", kBadName, "--output", idlFile}, dir).exitCode, 0);
    EXPECT_EQ(ReadBytes(dir + "/" + idlFile), idl.out);
    // Exactly these files: no temporary file left, nothing under a mangled name.
    EXPECT_EQ(Names(dir), (std::set<std::string>{kBadName, "QuibrelShared.tlb", classFile, idlFile}));

    // A folder of that name is refused.
    std::filesystem::create_directory(dir + "/sub\xFF");
    const TRun refused = RunTlb({"idl", kBadName, "--output", "sub\xFF"}, dir);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err.rfind("Cannot create file ", 0), 0u) << refused.err;
}

TEST(FileNames, TheWindowOpensALibraryNamedOnTheCommandLine) {
    const TBadLibrary lib;
    ASSERT_FALSE(lib.dir.path.empty());
    const std::string path = lib.dir.path + "/" + kBadName;
    const char* argv[] = {"quibrel-browser", path.c_str(), "DPanel"};
    const TCommandLine commandLine = ParseCommandLine(ArgumentsFromArgv(3, argv));
    ASSERT_EQ(commandLine.Action, TCommandLine::Run);
    TWindow w(commandLine.Operands);
    EXPECT_TRUE(w.messages.isEmpty()) << w.messages.join('\n').toStdString();
    EXPECT_EQ(w->lvClasses->topLevelItemCount(), 16);
    ASSERT_EQ(w->lvClasses->selectedItems().size(), 1);
    EXPECT_EQ(w->lvClasses->selectedItems().first()->text(0), "DPanel");
    // The File row shows the name, its bad bytes as replacement characters.
    QTreeWidgetItem* file = w->lvTypeLib->topLevelItem(1);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->text(0), "File");
    EXPECT_EQ(file->text(1).toStdString(), lib.dir.path + "/" + kShownName);
}
