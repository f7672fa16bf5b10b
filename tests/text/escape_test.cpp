// The escaping rule: no library text may leave a comment, a string or an identifier.
#include "text/escape.h"

#include <gtest/gtest.h>

namespace {

TEST(Escape, NamesAreKeptOnlyWhenSafe) {
    struct Case {
        const char* name;
        NameDialect dialect;
        const char* written;
    } cases[] = {
        {"IFoo", NameDialect::Idl, "IFoo"},
        {"_x9", NameDialect::C, "_x9"},
        {"interface", NameDialect::Idl, "interface_"},
        {"class", NameDialect::C, "class_"},
        {"class", NameDialect::Idl, "class"},
        {"9lives", NameDialect::Idl, "_9lives"},
        {"", NameDialect::C, "_"},
        {"A B", NameDialect::Idl, "A_x20B"},
        {"X{}; coclass PWNED", NameDialect::Idl, "X_x7B_x7D_x3B_x20coclass_x20PWNED"},
        {"#include \"/etc/hostname\"", NameDialect::C, "_x23include_x20_x22_x2Fetc_x2Fhostname_x22"},
        {"Gr\xC3\xBC\xC3\x9F", NameDialect::Idl, "Gr_xC3_xBC_xC3_x9F"},
    };
    for (const Case& c : cases) {
        const std::string cleaned = CleanIdentifier(c.name, c.dialect);
        EXPECT_EQ(cleaned, c.written) << c.name;
        EXPECT_TRUE(IsSafeName(cleaned, c.dialect)) << c.name;
    }
}

TEST(Escape, CommentAndStringTextStayInside) {
    struct Case {
        const char* text;
        const char* comment;
        const char* literal;
    } cases[] = {
        {"plain", "plain", "plain"},
        {"a\nb\r\n#define x", "a\\nb\\r\\n#define x", "a\\012b\\015\\012#define x"},
        {"end */ int x; /*", "end *\\/ int x; /*", "end */ int x; /*"},
        {"bell\a esc\x1b]0;title\x07", "bell\\x07 esc\\x1B]0;title\\x07", "bell\\007 esc\\033]0;title\\007"},
        {"quote \" and \\ here", "quote \" and \\ here", "quote \\\" and \\\\ here"},
        {"joins next line\\", "joins next line\\x5C", "joins next line\\\\"},
        {"bad \xFF\xC0\xAF utf-8", "bad \\xFF\\xC0\\xAF utf-8", "bad \\377\\300\\257 utf-8"},
        {"caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"rtl \xE2\x80\xAE override", "rtl \\u{202E} override", "rtl \\342\\200\\256 override"},
        {"line\xE2\x80\xA8sep", "line\\u{2028}sep", "line\\342\\200\\250sep"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommentText(c.text), c.comment) << c.text;
        EXPECT_EQ(StringLiteralText(c.text), c.literal) << c.text;
    }
    // NUL inside the text is escaped too, not a terminator.
    EXPECT_EQ(CommentText(std::string_view("a\0b", 3)), "a\\x00b");
}

TEST(Escape, NameTableGivesOneNamePerItemAndNoClashes) {
    NameTable names(NameDialect::Idl);
    names.Reserve("A_x20B");  // a safe name of the library, taken before anything is cleaned
    const std::string first = names.Name("lib/1", "A B");
    EXPECT_EQ(first, "A_x20B_2");
    EXPECT_TRUE(names.Renamed("lib/1"));
    EXPECT_EQ(names.Name("lib/1", "ignored the second time"), first);
    EXPECT_EQ(names.Name("lib/2", "A B"), "A_x20B_3");
    EXPECT_EQ(names.Name("lib/3", "A_x20B"), "A_x20B");
    EXPECT_FALSE(names.Renamed("lib/3"));
}

}  // namespace
