// The one escaping rule for library text that goes into something others compile or print:
// IDL, C/C++ headers, event templates, terminal lines. A library is untrusted input; none of
// its names or strings may become code, end a comment or string early, or reach a terminal
// as a control sequence.
//
// - Names: written as they are only when they are identifiers of the target language and not
//   one of its reserved words; otherwise under a cleaned form (CleanIdentifier), the same at
//   the definition and at every use (NameTable), with the original shown through CommentText.
// - Text in comments: CommentText keeps it on one line and inside the comment.
// - Text in string literals: StringLiteral.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// The languages a name can be written into; each has its own reserved words.
enum class NameDialect {
    Idl,      // MIDL/widl IDL
    C,        // C and C++ together: a header must compile as both
    Quibrel,  // the event templates' scripting language
};

// True for [A-Za-z_][A-Za-z0-9_]* (ASCII only).
bool IsIdentifier(std::string_view name);
// A word the dialect reserves (letter case as the language has it).
bool IsReservedWord(std::string_view name, NameDialect dialect);
// True when name can be written as it is.
inline bool IsSafeName(std::string_view name, NameDialect dialect) {
    return IsIdentifier(name) && !IsReservedWord(name, dialect);
}

// The cleaned form of a name that is not safe: every byte outside [A-Za-z0-9_] becomes
// _xHH, a leading digit or an empty name gets a leading "_", and a reserved word gets a
// trailing "_". The result is always a safe name; a safe name comes back unchanged.
std::string CleanIdentifier(std::string_view name, NameDialect dialect);

// Text for the inside of a /* */ or // comment: line breaks become \n and \r, other control
// characters and DEL \xHH, bytes that are not UTF-8 \xHH, "*/" becomes "*\/", and
// U+2028/U+2029 and the bidirectional overrides are written as \u{HHHH}, so that the text
// neither leaves the comment nor reorders what a reader sees. A backslash stays as it is
// unless it would join the next line ("\" at the end becomes "\x5C").
std::string CommentText(std::string_view utf8);

// The inside of a double-quoted C or IDL string literal: quotes and backslashes escaped,
// control characters, DEL and bytes that are not UTF-8 as octal escapes ("\033"); valid
// UTF-8 stays as it is.
std::string StringLiteralText(std::string_view utf8);
inline std::string StringLiteral(std::string_view utf8) {
    return "\"" + StringLiteralText(utf8) + "\"";
}

// The names written for one output, so that each item keeps one name everywhere it appears
// and two items never share one. Safe names are kept; unsafe ones get CleanIdentifier's
// form, with "_2", "_3"... added while that form is taken by another item.
class NameTable {
public:
    explicit NameTable(NameDialect dialect) : dialect_(dialect) {}

    // Marks names as taken before any is assigned (the library's own safe names, names of
    // base declarations), so that no cleaned form can take them.
    void Reserve(const std::string& name) { taken_.insert(name); }

    // The name to write for the item key (any string that identifies the item) whose name
    // in the library is original. The same key always gives the same name.
    const std::string& Name(const std::string& key, std::string_view original);

    // True when the item was written under another name than its own (the caller then adds
    // a comment with CommentText(original)).
    bool Renamed(const std::string& key) const;

    // True when a name is reserved or given to an item.
    bool Taken(const std::string& name) const { return taken_.count(name) != 0; }

    NameDialect Dialect() const { return dialect_; }

private:
    NameDialect dialect_;
    std::unordered_map<std::string, std::string> names_;
    std::unordered_set<std::string> renamed_;
    std::unordered_set<std::string> taken_;
};

// A field of a tab-separated line printed for a terminal or a script: tab, line feed and
// carriage return become \t, \n and \r, other control characters and DEL \xHH, so that a
// record stays one line with its own tabs; everything else, backslashes included, is kept.
std::string OneLineText(std::string_view utf8);
