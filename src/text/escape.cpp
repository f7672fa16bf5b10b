// The escaping rule for library text in what others compile or print.
#include "text/escape.h"

#include <array>
#include <cstdio>

namespace {

bool IsAsciiIdentChar(unsigned char c, bool first) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (!first && c >= '0' && c <= '9');
}

// Words an IDL compiler reserves: an item of that name cannot be written as it is.
const std::unordered_set<std::string_view>& IdlWords() {
    static const std::unordered_set<std::string_view> words = {
        "FALSE", "NULL", "TRUE", "__cdecl", "__fastcall", "__int32", "__int3264", "__int64", "__pascal",
        "__stdcall", "_cdecl", "_fastcall", "_pascal", "_stdcall", "boolean", "byte", "case", "cdecl", "char",
        "coclass", "const", "cpp_quote", "default", "dispinterface", "double", "enum", "error_status_t", "extern",
        "float", "handle_t", "hyper", "import", "importlib", "inline", "int", "interface", "library",
        "long", "methods", "module", "pascal", "properties", "register", "short", "signed", "sizeof",
        "small", "static", "stdcall", "struct", "switch", "typedef", "union", "unsigned", "void", "wchar_t"};
    return words;
}

// C and C++ keywords (a header must compile as both), and the calling-convention and
// declaration macros a COM header relies on.
const std::unordered_set<std::string_view>& CWords() {
    static const std::unordered_set<std::string_view> words = {
        // C
        "auto", "break", "case", "char", "const", "continue", "default", "do", "double", "else", "enum",
        "extern", "float", "for", "goto", "if", "inline", "int", "long", "register", "restrict", "return",
        "short", "signed", "sizeof", "static", "struct", "switch", "typedef", "union", "unsigned", "void",
        "volatile", "while", "_Alignas", "_Alignof", "_Atomic", "_Bool", "_Complex", "_Generic",
        "_Imaginary", "_Noreturn", "_Static_assert", "_Thread_local",
        // C++
        "alignas", "alignof", "and", "and_eq", "asm", "bitand", "bitor", "bool", "catch", "char8_t",
        "char16_t", "char32_t", "class", "compl", "concept", "consteval", "constexpr", "constinit",
        "const_cast", "co_await", "co_return", "co_yield", "decltype", "delete", "dynamic_cast",
        "explicit", "export", "false", "friend", "mutable", "namespace", "new", "noexcept", "not",
        "not_eq", "nullptr", "operator", "or", "or_eq", "private", "protected", "public",
        "reinterpret_cast", "requires", "static_assert", "static_cast", "template", "this",
        "thread_local", "throw", "true", "try", "typeid", "typename", "using", "virtual", "wchar_t",
        "xor", "xor_eq",
        // what the platform's headers define as macros
        "NULL", "TRUE", "FALSE", "STDMETHODCALLTYPE", "STDMETHOD", "STDMETHOD_", "PURE", "THIS", "THIS_",
        "DECLSPEC_UUID", "DECLSPEC_NOVTABLE", "EXTERN_C", "DEFINE_GUID", "CONST_VTBL", "interface",
        "BEGIN_INTERFACE", "END_INTERFACE", "WINAPI", "CALLBACK", "__stdcall", "__cdecl", "__fastcall",
        "__declspec", "__int64", "__int32", "__int16", "__int8", "IN", "OUT", "OPTIONAL", "far", "near",
        "pascal", "cdecl", "_cdecl", "_stdcall"};
    return words;
}

// Names the event templates' language reserves.
const std::unordered_set<std::string_view>& QuibrelWords() {
    static const std::unordered_set<std::string_view> words = {};
    return words;
}

// Length of the UTF-8 sequence at s[i] (1..4), or 0 when the bytes there are not valid
// UTF-8 (overlong forms, surrogates and values above U+10FFFF included).
std::size_t Utf8Length(std::string_view s, std::size_t i, char32_t* cp) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    std::size_t n;
    char32_t v;
    if ((c & 0xE0) == 0xC0) n = 2, v = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) n = 3, v = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) n = 4, v = c & 0x07;
    else return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        v = (v << 6) | (d & 0x3F);
    }
    static constexpr std::array<char32_t, 5> kMin = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMin[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

void AppendHexByte(std::string& out, const char* prefix, unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s%02X", prefix, c);
    out += buf;
}

// Code points that change how a line reads without being control characters: line and
// paragraph separators, and the bidirectional embeddings, overrides and isolates.
bool IsInvisibleControl(char32_t cp) {
    return cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0x200E || cp == 0x200F || cp == 0x061C || (cp >= 0x80 && cp < 0xA0);
}

}  // namespace

bool IsIdentifier(std::string_view name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (!IsAsciiIdentChar(static_cast<unsigned char>(name[i]), i == 0)) return false;
    return true;
}

bool IsReservedWord(std::string_view name, NameDialect dialect) {
    switch (dialect) {
    case NameDialect::Idl: return IdlWords().count(name) != 0;
    case NameDialect::C: return CWords().count(name) != 0;
    case NameDialect::Quibrel: return QuibrelWords().count(name) != 0;
    }
    return false;
}

std::string CleanIdentifier(std::string_view name, NameDialect dialect) {
    if (IsSafeName(name, dialect)) return std::string(name);
    std::string out;
    out.reserve(name.size() + 8);
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) out += '_';
    for (unsigned char c : name) {
        if (IsAsciiIdentChar(c, false)) out += char(c);
        else AppendHexByte(out, "_x", c);
    }
    if (IsReservedWord(out, dialect)) out += '_';
    return out;
}

std::string CommentText(std::string_view s) {
    // Most text is printable ASCII with nothing to escape.
    bool plain = s.empty() || s.back() != '\\';
    for (std::size_t i = 0; plain && i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        plain = c >= 0x20 && c < 0x7F && !(c == '*' && i + 1 < s.size() && s[i + 1] == '/');
    }
    if (plain) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0;
        const std::size_t n = Utf8Length(s, i, &cp);
        if (n == 0) {
            AppendHexByte(out, "\\x", c);
            ++i;
            continue;
        }
        if (n == 1) {
            if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else if (c < 0x20 || c == 0x7F) AppendHexByte(out, "\\x", c);
            else if (c == '*' && i + 1 < s.size() && s[i + 1] == '/') out += "*\\/", ++i;
            else if (c == '\\' && i + 1 == s.size()) out += "\\x5C";
            else out += char(c);
        } else if (IsInvisibleControl(cp)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%04X}", unsigned(cp));
            out += buf;
        } else {
            out.append(s.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::string StringLiteralText(std::string_view s) {
    bool plain = true;
    for (std::size_t i = 0; plain && i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        plain = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    }
    if (plain) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0;
        const std::size_t n = Utf8Length(s, i, &cp);
        if (n == 0 || (n == 1 && (c < 0x20 || c == 0x7F)) || (n > 1 && IsInvisibleControl(cp))) {
            // Octal, three digits each, so that a following digit cannot extend an escape.
            for (std::size_t k = 0; k < (n ? n : 1); ++k) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\%03o", unsigned(static_cast<unsigned char>(s[i + k])));
                out += buf;
            }
            i += n ? n : 1;
            continue;
        }
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else out.append(s.substr(i, n));
        i += n;
    }
    return out;
}

const std::string& NameTable::Name(const std::string& key, std::string_view original) {
    auto found = names_.find(key);
    if (found != names_.end()) return found->second;
    std::string name;
    if (IsSafeName(original, dialect_)) {
        name = std::string(original);
    } else {
        const std::string base = CleanIdentifier(original, dialect_);
        name = base;
        for (unsigned n = 2; taken_.count(name); ++n) name = base + "_" + std::to_string(n);
        renamed_.insert(key);
    }
    taken_.insert(name);
    return names_.emplace(key, std::move(name)).first->second;
}

bool NameTable::Renamed(const std::string& key) const { return renamed_.count(key) != 0; }

std::string OneLineText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (u < 0x20 || u == 0x7F) AppendHexByte(out, "\\x", u);
        else out += c;
    }
    return out;
}
