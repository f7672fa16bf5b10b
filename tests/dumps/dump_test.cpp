// `quibrel-tlb dump` of the fixtures, compared byte for byte with text written from the IDL
// (expected/*.dump): stand-alone and DLL-embedded, 32- and 64-bit, resource selection with
// "\N", and a library whose import is found beside it or not at all.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct DumpRun {
    int status = -1;
    std::string out;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

DumpRun Dump(const std::string& file) {
    DumpRun r;
    std::string cmd = Quote(QUIBREL_TLB) + " dump " + Quote(file) + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string Fixture(const std::string& name) { return (fs::path(QUIBREL_FIXTURE_DIR) / name).string(); }

std::string Expected(const std::string& name) {
    std::ifstream in(fs::path(QUIBREL_SOURCE_DIR) / "tests/dumps/expected" / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string As32Bit(std::string text) {
    auto at = text.find(" syskind 3 ");
    if (at != std::string::npos) text.replace(at, 11, " syskind 1 ");
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);) lines.push_back(l);
    return lines;
}

// The block of type I: its "type I ..." line and everything up to the next type.
std::string TypeBlock(const std::string& text, int index) {
    std::string head = "type " + std::to_string(index) + " ";
    auto start = text.find("\n" + head);
    if (start == std::string::npos) return "";
    auto end = text.find("\ntype ", start + 1);
    return text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start);
}

// Compares line by line so that a failure names the first differing line.
void ExpectSameDump(const std::string& file, const std::string& expected) {
    DumpRun r = Dump(file);
    ASSERT_EQ(r.status, 0) << file << " did not dump";
    auto got = Lines(r.out), want = Lines(expected);
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << file << " line " << i + 1;
    EXPECT_EQ(got.size(), want.size()) << file << ": line count";
    EXPECT_EQ(r.out, expected) << file << ": bytes";
}

}  // namespace

TEST(Dump, StandAloneLibraries64Bit) {
    ExpectSameDump(Fixture("QuibrelShared.tlb"), Expected("QuibrelShared.dump"));
    ExpectSameDump(Fixture("QuibrelTest.tlb"), Expected("QuibrelTest.dump"));
}

TEST(Dump, StandAloneLibraries32Bit) {
    ExpectSameDump(Fixture("win32/QuibrelShared.tlb"), As32Bit(Expected("QuibrelShared.dump")));
    ExpectSameDump(Fixture("win32/QuibrelTest.tlb"), As32Bit(Expected("QuibrelTest.dump")));
}

TEST(Dump, LibrariesInsideDlls) {
    ExpectSameDump(Fixture("QuibrelTest64.dll"), Expected("QuibrelTest.dump"));
    ExpectSameDump(Fixture("win32/QuibrelTest32.dll"), As32Bit(Expected("QuibrelTest.dump")));
    ExpectSameDump(Fixture("win32/QuibrelShared32.dll"), As32Bit(Expected("QuibrelShared.dump")));
}

TEST(Dump, ContentDecidesNotTheExtension) {
    ExpectSameDump(Fixture("QuibrelTestTlb.dll"), Expected("QuibrelTest.dump"));
    ExpectSameDump(Fixture("QuibrelTestDll.tlb"), Expected("QuibrelTest.dump"));
}

TEST(Dump, ResourceNumberSelectsTheLibrary) {
    ExpectSameDump(Fixture("QuibrelPair.dll") + "\\2", Expected("QuibrelShared.dump"));
    DumpRun first = Dump(Fixture("QuibrelPair.dll"));
    DumpRun one = Dump(Fixture("QuibrelPair.dll") + "\\1");
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(first.out.rfind("library QuibrelEvents\n", 0), 0u) << "no resource number means the first";
    EXPECT_EQ(one.out, first.out);
    DumpRun missing = Dump(Fixture("QuibrelPair.dll") + "\\3");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.rfind("error 0x", 0), 0u) << missing.out;
    // A stand-alone library has no resource 2.
    EXPECT_EQ(Dump(Fixture("QuibrelShared.tlb") + "\\2").status, 1);
}

// Property flags widl cannot write, set in a copy of the library.
TEST(Dump, HiddenAndNonBrowsableProperties) {
    std::string want = Expected("QuibrelTest.dump");
    for (auto [from, to] : {std::pair<std::string, std::string>{
                                "  var 0 Width memid 0x00000001 varkind 3 flags 0x0000 ",
                                "  var 0 Width memid 0x00000001 varkind 3 flags 0x0400 "},
                            {"  var 2 Opacity memid 0x00000003 varkind 3 flags 0x0000 ",
                             "  var 2 Opacity memid 0x00000003 varkind 3 flags 0x0040 "}}) {
        auto at = want.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        want.replace(at, from.size(), to);
    }
    ExpectSameDump(Fixture("QuibrelHidden.tlb"), want);
}

// Without QuibrelShared.tlb beside it, only what lives in the import is missing.
TEST(Dump, MissingImportFailsOnlyTheItemsThatNeedIt) {
    DumpRun r = Dump(Fixture("lonely/QuibrelTest.tlb"));
    ASSERT_EQ(r.status, 0) << "a missing import must not stop the load";
    std::string want = Expected("QuibrelTest.dump");
    EXPECT_EQ(r.out.substr(0, r.out.find("\ntype ")), want.substr(0, want.find("\ntype ")));
    for (int i : {0, 1, 3, 4, 6, 7, 8, 10, 17, 18, 19})
        EXPECT_EQ(TypeBlock(r.out, i), TypeBlock(want, i)) << "type " << i;
    EXPECT_NE(TypeBlock(r.out, 2).find("  var 4 Origin memid 0x40000004 varkind 0 flags 0x0000 type USERDEFINED(?)\n"), std::string::npos);
    EXPECT_NE(TypeBlock(r.out, 5).find("  alias USERDEFINED(?)\n"), std::string::npos);
    EXPECT_NE(TypeBlock(r.out, 9).find("  impl 0 flags 0 ?\n"), std::string::npos);
    EXPECT_NE(TypeBlock(r.out, 15).find("\n  func 0 ShapeAdded "), std::string::npos);
}

// Events with more parameters than GetNames(64) can return.
TEST(Dump, ManyParameters) {
    DumpRun r = Dump(Fixture("QuibrelEvents.tlb"));
    ASSERT_EQ(r.status, 0);
    auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "library QuibrelEvents");
    EXPECT_EQ(lines[2], "  guid {7A0C5E00-1F2B-4C3D-8E9F-000000300000} version 1.0 lcid 0 syskind 3 flags 0x000A");
    const char* types[] = {"I2", "I4", "BSTR", "R8", "DISPATCH", "VARIANT", "R4", "BOOL", "UNKNOWN", "CY", "DATE", "UI1", "I8", "PTR(I4)"};
    struct Event { const char* name; const char* prefix; int params; int memid; };
    for (Event e : {Event{"Full63", "f", 63, 2}, Event{"Full64", "g", 64, 3}, Event{"Crescendo", "p", 70, 4}}) {
        char head[160];
        std::snprintf(head, sizeof head, "  func %d %s memid 0x%08X invkind 1 funckind 4 flags 0x0000 params %d opt 0 returns VOID",
                      e.memid - 1, e.name, e.memid, e.params);
        std::string names = "    names " + std::to_string(std::min(e.params + 1, 64)) + " " + e.name;
        std::vector<std::string> want = {head, "", names};
        for (int k = 1; k <= e.params; ++k) {
            char n[8];
            std::snprintf(n, sizeof n, "%s%02d", e.prefix, k);
            if (k < 64) want[2] += std::string(" ") + n;
            const char* t = types[(k - 1) % 14];
            want.push_back("    param " + std::to_string(k - 1) + " flags " + (std::string(t) == "PTR(I4)" ? "0x0003 " : "0x0001 ") + t);
        }
        auto at = std::find(lines.begin(), lines.end(), want[0]);
        ASSERT_NE(at, lines.end()) << "no line: " << want[0];
        ASSERT_GE(lines.end() - at, static_cast<long>(want.size()));
        for (std::size_t i = 0; i < want.size(); ++i)
            if (i != 1) EXPECT_EQ(at[i], want[i]) << e.name;
    }
}
