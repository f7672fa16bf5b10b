// The six SLTG libraries of the real-world collection (../shared/typelibs): `quibrel-tlb dump`
// gives what the platform's own service gave for them, stand-alone and inside PE images built
// here from the same bytes. Skipped when the collection is not there.
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/typelib_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kCollection = fs::path(QUIBREL_TYPELIBS_DIR);
const char* const kSltgLibraries[] = {"stdole32.tlb", "olepro32.dll", "VBAEN32.OLB",
                                      "VBAEND32.OLB", "VEN2232.OLB", "ir41_32original.dll"};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command; its standard output, and whether it exited with 0.
bool Shell(const std::string& cmd, std::string* out) {
    out->clear();
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char buf[65536];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Where the platform misread these files and we read what they hold (the real-world
// comparison accepts the same differences, tests/typelibs/check_typelibs.sh):
//   doc: a compressed doc string, shown as "" by the platform;
//   bounds: a fixed-size array's bounds, read 8 bytes off by the platform;
//   underscore: a parameter name starting with "_" that the platform shortened, and the types of
//   that function's parameters, which it then read from elsewhere.
struct Misreads {
    bool doc = false, bounds = false, underscore = false;
};

Misreads MisreadsOf(const std::string& name) {
    if (name == "stdole32.tlb") return {false, true, false};
    if (name == "olepro32.dll" || name == "ir41_32original.dll") return {true, false, false};
    if (name == "VBAEN32.OLB" || name == "VBAEND32.OLB" || name == "VEN2232.OLB") return {true, false, true};
    return {};
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Whether our line x differs from the platform's line y only as `m` explains; `inNames` carries
// an explained "names" line on to the function's "param" lines.
bool Explained(const std::string& x, const std::string& y, const Misreads& m, bool* inNames) {
    auto starts = [](const std::string& l, const char* word) {
        return l.find_first_not_of(' ') == l.find(word) && l.find(word) != std::string::npos;
    };
    if (!starts(x, "param ")) *inNames = false;
    if (m.doc && starts(x, "doc \"") && y.find_first_not_of(' ') == x.find_first_not_of(' ') &&
        y.substr(y.find_first_not_of(' ')) == "doc \"\"" && x.size() > y.size())
        return true;
    if (m.bounds) {
        static const std::regex bounds(R"(CARRAY\[[-0-9:,]*\])");
        if (std::regex_replace(x, bounds, "CARRAY[]") == std::regex_replace(y, bounds, "CARRAY[]")) return true;
    }
    if (m.underscore && starts(x, "names ") && starts(y, "names ")) {
        std::vector<std::string> wx = Words(x), wy = Words(y);
        bool same = wx.size() == wy.size();
        for (std::size_t j = 0; same && j < wx.size(); ++j) same = wx[j] == wy[j] || wx[j] == "_" + wy[j];
        if (same) return *inNames = true;
    }
    return *inNames && starts(x, "param ") && starts(y, "param ");
}

// The first few lines where two dumps differ beyond what `m` explains, "" when none does.
std::string FirstDifferences(const std::string& actual, const std::string& expected, const Misreads& m = {}) {
    std::vector<std::string> a = Lines(actual), e = Lines(expected);
    std::string report;
    int shown = 0;
    bool inNames = false;
    if (a.size() != e.size())
        report += "  " + std::to_string(a.size()) + " lines against " + std::to_string(e.size()) + "\n";
    for (std::size_t i = 0; i < std::max(a.size(), e.size()) && shown < 8; ++i) {
        std::string x = i < a.size() ? a[i] : "<end>", y = i < e.size() ? e[i] : "<end>";
        if (x == y || Explained(x, y, m, &inNames)) continue;
        report += "  line " + std::to_string(i + 1) + ":\n    got      " + x + "\n    expected " + y + "\n";
        ++shown;
    }
    return report;
}

class SltgCollection : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(kCollection / "files") || !fs::is_regular_file(kCollection / "reference-dumps.tgz"))
            GTEST_SKIP() << "no real-world type libraries at " << kCollection.string() << ", skipped";
        dir_ = fs::temp_directory_path() /
               ("quibrel-sltg-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    static std::string Reference(const std::string& name) {
        std::string text;
        EXPECT_TRUE(Shell("tar xzOf " + Quote((kCollection / "reference-dumps.tgz").string()) + " " +
                            Quote("ref/" + name + ".dump"),
                        &text))
            << "no reference dump for " << name;
        return text;
    }
    static std::string Dump(const std::string& file) {
        std::string text;
        // Standard error (an import not found is said there) is no part of the dump.
        EXPECT_TRUE(Shell(Quote(QUIBREL_TLB) + " dump " + Quote(file) + " 2>/dev/null", &text)) << text;
        return text;
    }
    // A copy of a collection file in `folder`, under `as` (default: its own name).
    static fs::path Place(const std::string& name, const fs::path& folder, const std::string& as = "") {
        fs::create_directories(folder);
        fs::path to = folder / (as.empty() ? name : as);
        fs::copy_file(kCollection / "files" / name, to, fs::copy_options::overwrite_existing);
        return to;
    }

    fs::path dir_;
};

// The lines of a dump outside the blocks of the given types.
std::vector<std::string> Outside(const std::vector<std::string>& lines, std::vector<int> types) {
    std::vector<std::string> kept;
    bool skip = false;
    for (const std::string& l : lines) {
        if (l.rfind("type ", 0) == 0) {
            skip = false;
            for (int t : types) skip = skip || l.rfind("type " + std::to_string(t) + " ", 0) == 0;
        }
        if (!skip) kept.push_back(l);
    }
    return kept;
}

// Each library in a folder holding what the platform found of its imports: olepro32.dll's
// stdole32.tlb was at its recorded path; ir41_32original.dll's STDOLE32.TLB and VEN2232.OLB's
// STDOLE.TLB were not, so the dispatch views of their dual interfaces count the whole vtable
// and give no function. Nothing differs but what the platform misread.
TEST_F(SltgCollection, EachDumpsAsThePlatformDidBesideItsMisreadings) {
    for (const char* name : kSltgLibraries) {
        fs::path folder = dir_ / name;
        fs::path file = Place(name, folder);
        if (std::string(name) == "olepro32.dll") Place("stdole32.tlb", folder);
        std::string diff = FirstDifferences(Dump(file.string()), Reference(name), MisreadsOf(name));
        EXPECT_TRUE(diff.empty()) << name << " differs from the platform's dump:\n" << diff;
    }
}

// Beside the other collection files, ir41_32original.dll finds the stdole32.tlb the platform
// missed: its two dual interfaces then show their dispatch view in full, and nothing else changes.
TEST_F(SltgCollection, AnImportThePlatformMissedIsFoundBesideTheFile) {
    fs::path file = kCollection / "files" / "ir41_32original.dll";
    std::vector<std::string> got = Lines(Dump(file.string())), ref = Lines(Reference("ir41_32original.dll"));
    std::string outside;
    for (const std::string& l : Outside(got, {2, 4})) outside += l + "\n";
    std::string outsideRef;
    for (const std::string& l : Outside(ref, {2, 4})) outsideRef += l + "\n";
    std::string diff = FirstDifferences(outside, outsideRef, MisreadsOf("ir41_32original.dll"));
    EXPECT_TRUE(diff.empty()) << diff;

    std::u16string path = Utf8ToUtf16(file.string());
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(path.c_str(), lib.Put()), S_OK);
    for (UINT index : {2u, 4u}) {
        SCOPED_TRACE("type " + std::to_string(index));
        ComPtr<ITypeInfo> disp;
        ASSERT_EQ(lib->GetTypeInfo(index, disp.Put()), S_OK);
        TypeAttrPtr attr;
        ASSERT_EQ(disp->GetTypeAttr(attr.Put(disp.Get())), S_OK);
        EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
        EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN);
        EXPECT_EQ(attr->cFuncs, index == 2 ? 59 : 55);
        HREFTYPE href;
        ComPtr<ITypeInfo> base;
        BStr baseName;
        ASSERT_EQ(disp->GetRefTypeOfImplType(0, &href), S_OK);
        ASSERT_EQ(disp->GetRefTypeInfo(href, base.Put()), S_OK);
        base->GetDocumentation(MEMBERID_NIL, baseName.Put(), nullptr, nullptr, nullptr);
        EXPECT_EQ(baseName.Utf8(), "IDispatch");
        // IUnknown's and IDispatch's functions first, then the interface's own.
        const std::pair<UINT, MEMBERID> expected[] = {{0, 0x60000000}, {6, 0x60010003}, {7, 0x60020000}};
        for (auto [f, memid] : expected) {
            FuncDescPtr fd;
            ASSERT_EQ(disp->GetFuncDesc(f, fd.Put(disp.Get())), S_OK) << "function " << f;
            EXPECT_EQ(fd->funckind, FUNC_DISPATCH);
            EXPECT_EQ(fd->memid, memid) << "function " << f;
        }
        // The vtable side: the interface's own functions only.
        ComPtr<ITypeInfo> vtable;
        TypeAttrPtr vattr;
        ASSERT_EQ(disp->GetRefTypeOfImplType(UINT(-1), &href), S_OK);
        ASSERT_EQ(disp->GetRefTypeInfo(href, vtable.Put()), S_OK);
        ASSERT_EQ(vtable->GetTypeAttr(vattr.Put(vtable.Get())), S_OK);
        EXPECT_EQ(vattr->typekind, TKIND_INTERFACE);
        EXPECT_EQ(vattr->cFuncs, attr->cFuncs - 7);
    }
}

// Resource-only DLLs built from the collection's bytes: a PE32 image with two libraries (the
// second one importing the first, which lies beside the image) and a PE32+ image with one.
TEST_F(SltgCollection, InsidePeImages) {
    auto image = [&](const std::string& dll, bool pe32, const std::vector<std::string>& libraries) {
        std::string rc;
        for (std::size_t i = 0; i < libraries.size(); ++i)
            rc += std::to_string(i + 1) + " TYPELIB \"" + Place(libraries[i], dir_ / "in").string() + "\"\n";
        std::ofstream(dir_ / (dll + ".rc")) << rc;
        std::string obj = (dir_ / (dll + ".o")).string(), out;
        std::string cmd = Quote(WINDRES) + " --preprocessor=cat --target=" + (pe32 ? "pe-i386" : "pe-x86-64") +
                          " -i " + Quote((dir_ / (dll + ".rc")).string()) + " -o " + Quote(obj) + " && " +
                          Quote(pe32 ? MINGW_LD32 : MINGW_LD64) + " -shared -e 0 -o " + Quote((dir_ / dll).string()) +
                          " " + Quote(obj) + " 2>&1";
        EXPECT_TRUE(Shell(cmd, &out)) << out;
        return (dir_ / dll).string();
    };
    std::string pair = image("StdPair.dll", true, {"stdole32.tlb", "olepro32.dll"});
    Place("stdole32.tlb", dir_);
    std::string vba = image("Vba64.dll", false, {"VEN2232.OLB"});  // its import is not found

    std::string diff = FirstDifferences(Dump(pair), Reference("stdole32.tlb"), MisreadsOf("stdole32.tlb"));
    EXPECT_TRUE(diff.empty()) << "first library of StdPair.dll:\n" << diff;
    diff = FirstDifferences(Dump(pair + "\\2"), Reference("olepro32.dll"), MisreadsOf("olepro32.dll"));
    EXPECT_TRUE(diff.empty()) << "second library of StdPair.dll:\n" << diff;
    diff = FirstDifferences(Dump(vba), Reference("VEN2232.OLB"), MisreadsOf("VEN2232.OLB"));
    EXPECT_TRUE(diff.empty()) << "Vba64.dll:\n" << diff;
}

// What the platform misread, read as the files hold it.
TEST_F(SltgCollection, ArrayBoundsNamesWithUnderscoreAndDocStrings) {
    // GUID.Data4 of stdole32.tlb: unsigned char[8].
    {
        ComPtr<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLib(Utf8ToUtf16((kCollection / "files" / "stdole32.tlb").string()).c_str(), lib.Put()), S_OK);
        ComPtr<ITypeInfo> guid;
        ASSERT_EQ(lib->GetTypeInfo(0, guid.Put()), S_OK);
        VarDescPtr data4;
        ASSERT_EQ(guid->GetVarDesc(3, data4.Put(guid.Get())), S_OK);
        const TYPEDESC& t = data4->elemdescVar.tdesc;
        ASSERT_EQ(t.vt, VT_CARRAY);
        ASSERT_EQ(t.lpadesc->cDims, 1);
        EXPECT_EQ(t.lpadesc->rgbounds[0].lLbound, 0);
        EXPECT_EQ(t.lpadesc->rgbounds[0].cElements, 8u);
        EXPECT_EQ(t.lpadesc->tdescElem.vt, VT_UI1);
    }

    // The lines after the first "func" line of `name`: its doc line, names line and first
    // parameters.
    auto after = [](const std::vector<std::string>& lines, const std::string& name, int count) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::vector<std::string> w = Words(lines[i]);
            if (w.size() > 2 && w[0] == "func" && w[2] == name)
                return std::vector<std::string>(lines.begin() + long(i) + 1,
                                                 lines.begin() + long(std::min(lines.size(), i + 1 + count)));
        }
        return std::vector<std::string>{"no function " + name};
    };
    const std::vector<std::string> vba = Lines(Dump((kCollection / "files" / "VBAEN32.OLB").string()));
    // InputB(Number As Long, FileNumber As Integer): names that start with "_" keep it, and the
    // parameters' types are read from after their names.
    EXPECT_EQ(after(vba, "_B_str_InputB", 4),
              (std::vector<std::string>{"    doc \"\"",
                                        "    names 3 _B_str_InputB _InputB_P1 _InputB_P2",
                                        "    param 0 flags 0x0001 I4", "    param 1 flags 0x0001 I2"}));
    EXPECT_EQ(after(vba, "Width", 2)[1], "    names 3 Width _Width_P1 _Width_P2");
    EXPECT_EQ(after(vba, "Array", 2)[1], "    names 2 Array _Array_P1");  // the platform kept this one

    // A dozen doc strings, as English as VBA's help has them.
    const std::pair<const char*, const char*> docs[] = {
        {"Asc", "Returns the character code corresponding to the first letter in a string"},
        {"_B_str_LCase", "Converts a string to lowercase"},
        {"_B_str_Left", "Returns a specified number of characters from the left of a string"},
        {"_B_str_Trim", "Returns a copy of a string without leading and trailing spaces"},
        {"_B_str_Hex", "Returns a string representing the hexadecimal value of a number"},
        {"MacID", "Converts a four-character constant to a Macintosh file type or signature"},
        {"ChDir", "Changes the current or default directory on a specified drive"},
        {"EOF", "Returns a value that indicates whether the end of a file has been reached"},
        {"FileLen", "Returns the length of a file in bytes"},
        {"DateSerial", "Returns a date for a specific year, month, and day"},
        {"Timer", "Returns the number of seconds that have elapsed since midnight"},
        {"Erl", "Returns the line number where error occurred"},
    };
    for (auto [name, doc] : docs) EXPECT_EQ(after(vba, name, 1)[0], std::string("    doc \"") + doc + "\"") << name;
    // Types and constants have theirs too.
    EXPECT_NE(std::find(vba.begin(), vba.end(), "  doc \"Procedures used to perform string manipulations\""), vba.end());
    EXPECT_NE(std::find(vba.begin(), vba.end(), "    doc \"Return value constant for VarType\""), vba.end());
}

// Texts are 8-bit in an SLTG file: Windows-1252, where 0x80 is the euro sign and the upper half
// is otherwise Latin-1.
TEST_F(SltgCollection, TextsAreWindows1252) {
    std::ifstream in(kCollection / "files" / "stdole32.tlb", std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto replace = [&](std::string_view from, std::string_view to) {
        std::vector<std::uint8_t> f(from.begin(), from.end()), t(to.begin(), to.end());
        auto at = std::search(bytes.begin(), bytes.end(), f.begin(), f.end());
        ASSERT_NE(at, bytes.end()) << from;
        std::copy(t.begin(), t.end(), at);
    };
    replace(std::string_view("\xFFGUID\0", 6), std::string_view("\xFF\xC9\x80ID\0", 6));  // a type's name
    replace("OLE Automation", "\xD6LE Automation");                                // the library's doc string
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(tlb::LoadTypeLibFromBytes(bytes, "", 0, lib.Put()), S_OK);
    BStr name, doc;
    ASSERT_EQ(lib->GetDocumentation(0, name.Put(), nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(lib->GetDocumentation(-1, nullptr, doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.View(), std::u16string_view(u"\u00C9\u20ACID"));
    EXPECT_EQ(doc.View(), std::u16string_view(u"\u00D6LE Automation"));
}

}  // namespace
