// File names whose bytes are not UTF-8: the mapping to and from UTF-16, opening and writing.
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include "common/bytedir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteBytes(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

int EntryCount(const std::string& dir) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

}  // namespace

TEST(HostPath, ValidUtf8DecodesAsUsual) {
    for (const char* s : {"", "plain/lib.tlb", "Größe \xF0\x9F\x98\x80.tlb", "\xE2\x82\xAC\xEF\xBF\xBD"}) {
        EXPECT_EQ(HostPathToUtf16(s), Utf8ToUtf16(s)) << s;
        EXPECT_EQ(Utf16ToHostPath(HostPathToUtf16(s)), s) << s;
        EXPECT_FALSE(HasEscapedBytes(HostPathToUtf16(s))) << s;
    }
}

TEST(HostPath, OtherBytesRoundTrip) {
    EXPECT_EQ(HostPathToUtf16("lib\xFF\xFE.tlb"), u"lib\xDCFF\xDCFE.tlb");
    EXPECT_EQ(Utf16ToHostPath(u"lib\xDCFF\xDCFE.tlb"), "lib\xFF\xFE.tlb");
    // Overlong forms, encoded surrogates, cut-off sequences and values past U+10FFFF are
    // escaped byte by byte, the well-formed rest decoded.
    EXPECT_EQ(HostPathToUtf16("\xC0\xAF"), u"\xDCC0\xDCAF");
    EXPECT_EQ(HostPathToUtf16("\xED\xB2\x80"), u"\xDCED\xDCB2\xDC80");
    EXPECT_EQ(HostPathToUtf16("\xE2\x82x\xC3\xA9"), u"\xDCE2\xDC82x\xE9");
    EXPECT_EQ(HostPathToUtf16("\xF4\x90\x80\x80"), u"\xDCF4\xDC90\xDC80\xDC80");
    EXPECT_TRUE(HasEscapedBytes(u"a\xDC80"));
    // Every string of two bytes, and of three with a multi-byte lead, comes back as it was.
    std::string s(2, '\0');
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            s[0] = char(a), s[1] = char(b);
            ASSERT_EQ(Utf16ToHostPath(HostPathToUtf16(s)), s) << a << " " << b;
        }
    s.assign(3, '\0');
    for (int a = 0xC0; a < 0x100; ++a)
        for (int b = 0x70; b < 0xD0; ++b)
            for (int c = 0x70; c < 0xD0; ++c) {
                s[0] = char(a), s[1] = char(b), s[2] = char(c);
                ASSERT_EQ(Utf16ToHostPath(HostPathToUtf16(s)), s) << a << " " << b << " " << c;
            }
}

TEST(HostPath, OtherLoneSurrogatesAndOrdinaryTextUnaffected) {
    // Outside U+DC80..U+DCFF a lone surrogate names no byte: U+FFFD, as in ordinary text.
    EXPECT_EQ(Utf16ToHostPath(u"\xD800x\xDC10"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_FALSE(HasEscapedBytes(u"\xD800x\xDC10"));
    // A surrogate pair whose second half lies in the escape range is a character, not a byte.
    EXPECT_EQ(Utf16ToHostPath(u"\xD83D\xDC80"), "\xF0\x9F\x92\x80");
    EXPECT_FALSE(HasEscapedBytes(u"\xD83D\xDC80"));
    // Text other than file names converts as before.
    EXPECT_EQ(Utf16ToUtf8(u"lib\xDCFF"), "lib\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("lib\xFF"), u"lib\xFFFD");
    EXPECT_EQ(PathDisplayText(u"a\xDCFF\xD83D\xDC80\xD800"), u"a\xFFFD\xD83D\xDC80\xFFFD");
}

TEST(HostPath, LibraryByAnEscapedNameOpens) {
    const TByteDir dir;
    const std::string name = dir.path + "/lib\xFF\xFE.tlb";
    WriteBytes(name, ReadBytes(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb"));
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(HostPathToUtf16(name).c_str(), lib.Put()), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 20u);
    // The same name through the ordinary conversion names no file.
    ComPtr<ITypeLib> none;
    EXPECT_NE(LoadTypeLib(Utf8ToUtf16(name).c_str(), none.Put()), S_OK);
    EXPECT_TRUE(IsHostFile(HostPathToUtf16(name)));
    EXPECT_FALSE(IsHostFile(HostPathToUtf16(dir.path)));
}

TEST(HostPath, ReplacingAFileByAnEscapedName) {
    const TByteDir dir;
    const std::string folder = dir.path;
    const std::string name = folder + "/out\xE9\xFF.txt";
    const std::u16string wide = HostPathToUtf16(name);
    ASSERT_TRUE(ReplaceHostFile(wide, "first"));
    EXPECT_EQ(ReadBytes(name), "first");
    ::chmod(name.c_str(), 0640);
    ASSERT_TRUE(ReplaceHostFile(wide, std::string("second\0line", 11)));
    EXPECT_EQ(ReadBytes(name), std::string("second\0line", 11));
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // kept
    EXPECT_EQ(EntryCount(folder), 1);      // no temporary file left, nothing under another name
    // A folder of that name is refused, and so is a name in a missing folder.
    const std::string sub = folder + "/sub\xFF";
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    EXPECT_FALSE(ReplaceHostFile(HostPathToUtf16(sub), "x"));
    EXPECT_FALSE(ReplaceHostFile(HostPathToUtf16(folder + "/missing\xFF/x"), "x"));
    EXPECT_EQ(EntryCount(folder), 2);
}
