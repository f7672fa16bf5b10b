#include "platform/registry/regfile.h"

#include "platform/oleauto/comptr.h"

#include <QString>

#include <algorithm>
#include <cstdio>

namespace regstore {

// ---- names and the tree -------------------------------------------------------------------

std::string FoldName(std::string_view name) {
    std::string out(name);
    bool ascii = true;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80) { ascii = false; break; }
        if (u >= 'A' && u <= 'Z') c = char(u + 32);
    }
    if (ascii) return out;
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toStdString();
}

static bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; });
}

static bool SameName(std::string_view a, std::string_view b) {
    if (!IsAscii(a) || !IsAscii(b)) return FoldName(a) == FoldName(b);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

Node* Node::Child(std::string_view name) const {
    auto it = index_.find(FoldName(name));
    return it == index_.end() ? nullptr : it->second;
}

Node* Node::AddChild(std::string_view name) {
    std::string folded = FoldName(name);
    auto it = index_.find(folded);
    if (it != index_.end()) return it->second;
    children_.push_back(std::make_unique<Node>(std::string(name)));
    Node* child = children_.back().get();
    index_.emplace(std::move(folded), child);
    return child;
}

bool Node::RemoveChild(std::string_view name) {
    auto it = index_.find(FoldName(name));
    if (it == index_.end()) return false;
    Node* child = it->second;
    index_.erase(it);
    children_.erase(std::find_if(children_.begin(), children_.end(),
                                 [child](const std::unique_ptr<Node>& c) { return c.get() == child; }));
    return true;
}

const Value* Node::FindValue(std::string_view name) const {
    for (const Value& v : values_)
        if (SameName(v.name, name)) return &v;
    return nullptr;
}

void Node::SetValue(std::string_view name, DWORD type, std::string data) {
    for (Value& v : values_) {
        if (SameName(v.name, name)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    }
    values_.push_back(Value{std::string(name), type, std::move(data)});
}

bool Node::RemoveValue(std::string_view name) {
    auto it = std::find_if(values_.begin(), values_.end(), [&](const Value& v) { return SameName(v.name, name); });
    if (it == values_.end()) return false;
    values_.erase(it);
    return true;
}

void Node::Clear() {
    children_.clear();
    index_.clear();
    values_.clear();
}

bool ValidKeyName(std::string_view name) {
    if (name.empty() || name.size() > 255 * 3) return false;
    for (char c : name)
        if ((unsigned char)c < 0x20 || c == '\\' || c == 0x7F) return false;
    return true;
}

bool ValidValueName(std::string_view name) {
    if (name.size() > 16383) return false;
    for (char c : name)
        if ((unsigned char)c < 0x20 || c == 0x7F) return false;
    return true;
}

// ---- UTF-16LE string data ------------------------------------------------------------------

std::string Utf16LeBytesToUtf8(std::string_view bytes) {
    std::u16string w(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < w.size(); ++i)
        w[i] = char16_t((unsigned char)bytes[2 * i] | ((unsigned char)bytes[2 * i + 1] << 8));
    return Utf16ToUtf8(w);
}

std::string Utf8ToUtf16LeBytes(std::string_view text) {
    std::u16string w = Utf8ToUtf16(text);
    std::string out;
    out.reserve(w.size() * 2);
    for (char16_t c : w) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

// ---- reading --------------------------------------------------------------------------------

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends one UTF-8 sequence starting at s[i] as UTF-16 units; advances i.
void AppendUtf8Char(std::string_view s, size_t& i, std::u16string& out) {
    size_t len = 1;
    unsigned char b = s[i];
    if (b >= 0xF0) len = 4;
    else if (b >= 0xE0) len = 3;
    else if (b >= 0xC0) len = 2;
    len = std::min(len, s.size() - i);
    out += Utf8ToUtf16(s.substr(i, len));
    i += len;
}

// Reads a double-quoted string starting at s[pos] == '"'. Wine's escapes give UTF-16 units;
// the export format escapes only backslash and quote. Returns false when it is unterminated.
bool ReadQuoted(std::string_view s, size_t& pos, bool wine, std::string* out) {
    ++pos;  // the opening quote
    std::string text;
    std::u16string wide;
    while (pos < s.size()) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            *out = wine ? Utf16ToUtf8(wide) : std::move(text);
            return true;
        }
        if (c != '\\' || pos + 1 >= s.size()) {
            if (wine) {
                if ((unsigned char)c < 0x80) wide += char16_t(c), ++pos;
                else AppendUtf8Char(s, pos, wide);
            } else {
                text += c;
                ++pos;
            }
            continue;
        }
        char e = s[pos + 1];
        pos += 2;
        if (!wine) {
            if (e == '\\' || e == '"') text += e;
            else text += '\\', text += e;  // a lone backslash, as people type paths
            continue;
        }
        switch (e) {
        case 'a': wide += u'\a'; break;
        case 'b': wide += u'\b'; break;
        case 'e': wide += char16_t(27); break;
        case 'f': wide += u'\f'; break;
        case 'n': wide += u'\n'; break;
        case 'r': wide += u'\r'; break;
        case 't': wide += u'\t'; break;
        case 'v': wide += u'\v'; break;
        case 'x': {
            unsigned v = 0;
            int n = 0;
            while (n < 4 && pos < s.size() && HexDigit(s[pos]) >= 0) v = v * 16 + HexDigit(s[pos++]), ++n;
            if (n == 0) wide += u'x';
            else wide += char16_t(v);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = unsigned(e - '0');
                for (int n = 1; n < 3 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7'; ++n) v = v * 8 + unsigned(s[pos++] - '0');
                wide += char16_t(v);
            } else if ((unsigned char)e < 0x80) {
                wide += char16_t(e);
            } else {
                --pos;
                AppendUtf8Char(s, pos, wide);
            }
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view s, std::string* out) {
    out->clear();
    size_t pos = 0;
    while (true) {
        while (pos < s.size() && IsSpace(s[pos])) ++pos;
        if (pos >= s.size()) return true;  // empty list, or a trailing comma
        int hi = HexDigit(s[pos]);
        if (hi < 0) return false;
        unsigned v = unsigned(hi);
        ++pos;
        if (pos < s.size() && HexDigit(s[pos]) >= 0) v = v * 16 + unsigned(HexDigit(s[pos++]));
        out->push_back(char(v));
        while (pos < s.size() && IsSpace(s[pos])) ++pos;
        if (pos >= s.size()) return true;
        if (s[pos] != ',') return false;
        ++pos;
    }
}

bool ParseHexNumber(std::string_view s, size_t maxDigits, DWORD* out) {
    if (s.empty() || s.size() > maxDigits) return false;
    DWORD v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = v * 16 + DWORD(d);
    }
    *out = v;
    return true;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

struct Parser {
    const Dialect& dialect;
    Node* root;
    ParseReport report;
    Node* current = nullptr;
    bool skipping = false;  // a Wine key outside the kept subtree
    std::vector<std::string> subtree;  // folded components of dialect.wineSubtree

    void Error(int line, const char* what) {
        if (report.errors++ == 0) {
            report.firstErrorLine = line;
            report.firstError = what;
        }
    }

    // The node for a key path of the file, or nullptr when it lies outside what is kept.
    // error is set when the path is malformed.
    Node* Locate(const std::vector<std::string_view>& parts, bool create, const char** error, bool* outside) {
        *error = nullptr;
        *outside = false;
        size_t first = 0;
        if (dialect.wine) {
            if (parts.size() < subtree.size()) { *outside = true; return nullptr; }
            for (size_t i = 0; i < subtree.size(); ++i)
                if (FoldName(parts[i]) != subtree[i]) { *outside = true; return nullptr; }
            first = subtree.size();
        } else {
            bool matched = false;
            for (const std::string& r : dialect.roots) {
                std::vector<std::string_view> rp = SplitPath(r);
                if (parts.size() < rp.size()) continue;
                bool ok = true;
                for (size_t i = 0; i < rp.size() && ok; ++i) ok = FoldName(parts[i]) == FoldName(rp[i]);
                if (ok) { first = rp.size(); matched = true; break; }
            }
            if (!matched) { *error = "key is not under this file's root"; return nullptr; }
        }
        if (parts.size() - first > kMaxDepth) { *error = "key path too deep"; return nullptr; }
        Node* node = root;
        for (size_t i = first; i < parts.size(); ++i) {
            if (parts[i].empty()) {
                if (i + 1 == parts.size() && i > first) break;  // a trailing backslash
                *error = "empty key name";
                return nullptr;
            }
            // What the API would refuse to create (control characters such as NUL, overlong
            // names) is refused here too, so that it is never saved back.
            if (!ValidKeyName(parts[i])) {
                *error = "invalid key name";
                return nullptr;
            }
            Node* next = create ? node->AddChild(parts[i]) : node->Child(parts[i]);
            if (!next) return nullptr;
            node = next;
        }
        return node;
    }

    void KeyLine(int line, std::string_view s) {
        current = nullptr;
        skipping = false;
        std::string name;
        bool remove = false;
        if (dialect.wine) {
            // "[escaped name] timestamp": the name ends at the first unescaped bracket.
            std::u16string wide;
            size_t pos = 1;
            bool closed = false;
            std::string raw;
            while (pos < s.size()) {
                if (s[pos] == '\\' && pos + 1 < s.size()) { raw += s[pos]; raw += s[pos + 1]; pos += 2; continue; }
                if (s[pos] == ']') { closed = true; break; }
                raw += s[pos++];
            }
            if (!closed) { Error(line, "unterminated key name"); skipping = true; return; }
            // Reuse the string unescaping: wrap the raw name in quotes, escaping bare quotes.
            std::string quoted = "\"";
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size()) { quoted += raw[i]; quoted += raw[++i]; continue; }
                if (raw[i] == '"') quoted += '\\';
                quoted += raw[i];
            }
            quoted += '"';
            size_t p = 0;
            ReadQuoted(quoted, p, true, &name);
        } else {
            size_t close = s.rfind(']');
            if (close == std::string_view::npos || close == 0) { Error(line, "unterminated key name"); return; }
            std::string_view inner = s.substr(1, close - 1);
            if (!inner.empty() && inner.front() == '-') { remove = true; inner.remove_prefix(1); }
            name = std::string(inner);
        }
        std::vector<std::string_view> parts = SplitPath(name);
        const char* error = nullptr;
        bool outside = false;
        if (remove) {
            std::vector<std::string_view> parent(parts.begin(), parts.end() - 1);
            if (parts.size() < 2) { Error(line, "cannot remove a root key"); return; }
            Node* p = Locate(parent, false, &error, &outside);
            if (error) Error(line, error);
            else if (p) p->RemoveChild(parts.back());
            return;
        }
        current = Locate(parts, true, &error, &outside);
        if (error) Error(line, error);
        skipping = outside;
    }

    void ValueLine(int line, std::string_view s) {
        if (!current) {
            if (!skipping) Error(line, "value outside a key");
            return;
        }
        std::string name;
        size_t pos = 0;
        if (s[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(s, pos, dialect.wine, &name)) {
            Error(line, "unterminated value name");
            return;
        }
        while (pos < s.size() && IsSpace(s[pos])) ++pos;
        if (pos >= s.size() || s[pos] != '=') { Error(line, "expected '=' after the value name"); return; }
        ++pos;
        while (pos < s.size() && IsSpace(s[pos])) ++pos;
        std::string_view rest = s.substr(pos);

        auto StringValue = [&](DWORD type, size_t at) {
            std::string text;
            size_t p = at;
            if (p >= s.size() || s[p] != '"' || !ReadQuoted(s, p, dialect.wine, &text)) {
                Error(line, "unterminated string");
                return;
            }
            if (!Trim(s.substr(p)).empty()) { Error(line, "text after the string"); return; }
            text += '\0';
            current->SetValue(name, type, std::move(text));
        };

        if (rest == "-" && !dialect.wine) {
            current->RemoveValue(name);
        } else if (!rest.empty() && rest[0] == '"') {
            StringValue(REG_SZ, pos);
        } else if (rest.substr(0, 4) == "str(" && dialect.wine) {
            size_t close = rest.find("):");
            DWORD type = 0;
            if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), 8, &type)) {
                Error(line, "bad string type");
                return;
            }
            StringValue(type, pos + close + 2);
        } else if (rest.substr(0, 6) == "dword:") {
            DWORD v = 0;
            if (!ParseHexNumber(Trim(rest.substr(6)), 8, &v)) { Error(line, "bad dword"); return; }
            std::string data(4, '\0');
            for (int i = 0; i < 4; ++i) data[i] = char((v >> (8 * i)) & 0xFF);
            current->SetValue(name, REG_DWORD, std::move(data));
        } else if (rest.substr(0, 3) == "hex") {
            DWORD type = REG_BINARY;
            size_t colon;
            if (rest.substr(3, 1) == ":") {
                colon = 3;
            } else if (rest.substr(3, 1) == "(") {
                size_t close = rest.find("):");
                if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), 8, &type)) {
                    Error(line, "bad hex type");
                    return;
                }
                colon = close + 1;
            } else {
                Error(line, "bad value data");
                return;
            }
            std::string bytes;
            if (!ParseHexBytes(rest.substr(colon + 1), &bytes)) { Error(line, "bad hex data"); return; }
            if (IsStringType(type)) bytes = Utf16LeBytesToUtf8(bytes);
            current->SetValue(name, type, std::move(bytes));
        } else {
            Error(line, "bad value data");
        }
    }
};

// The text as UTF-8: a UTF-16LE file (as Windows writes them) is converted, a UTF-8 mark dropped.
std::string_view Utf8Text(std::string_view bytes, std::string* storage) {
    if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE) {
        *storage = Utf16LeBytesToUtf8(bytes.substr(2));
        return *storage;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return bytes.substr(3);
    return bytes;
}

}  // namespace

ParseReport ParseRegText(std::string_view bytes, const Dialect& dialect, Node* root) {
    std::string storage;
    std::string_view text = Utf8Text(bytes, &storage);
    Parser p{dialect, root, {}};
    if (dialect.wine)
        for (std::string_view part : SplitPath(dialect.wineSubtree)) p.subtree.push_back(FoldName(part));

    size_t pos = 0;
    int lineNo = 0;
    auto NextLine = [&](std::string_view* line) {
        if (pos >= text.size()) return false;
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        *line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        return true;
    };

    bool headerSeen = false;
    std::string_view raw;
    std::string joined;
    while (NextLine(&raw)) {
        std::string_view line = Trim(raw);
        int start = lineNo;
        if (line.empty()) continue;
        if (!headerSeen) {
            headerSeen = true;
            bool ok = dialect.wine ? line.substr(0, 21) == "WINE REGISTRY Version"
                                   : line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4";
            if (!ok) p.Error(start, "not a registry file (unknown first line)");
            else continue;
        }
        if (line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            p.KeyLine(start, line);
            continue;
        }
        if (line[0] == '"' || line[0] == '@') {
            // A value may go on over several lines, each but the last ending in a backslash.
            if (line.back() == '\\' && !(p.skipping && !p.current)) {
                joined.assign(line.substr(0, line.size() - 1));
                std::string_view next;
                while (NextLine(&next)) {
                    std::string_view t = Trim(next);
                    if (!t.empty() && t.back() == '\\') {
                        joined.append(t.substr(0, t.size() - 1));
                        continue;
                    }
                    joined.append(t);
                    break;
                }
                p.ValueLine(start, joined);
            } else if (line.back() == '\\') {
                std::string_view next;  // skipped: only consume its continuation lines
                while (NextLine(&next)) {
                    std::string_view t = Trim(next);
                    if (t.empty() || t.back() != '\\') break;
                }
            } else {
                p.ValueLine(start, line);
            }
            continue;
        }
        p.Error(start, "not a key or value line");
    }
    return p.report;
}

// ---- writing --------------------------------------------------------------------------------

namespace {

void AppendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

bool ValidUtf8(std::string_view s) { return Utf16ToUtf8(Utf8ToUtf16(s)) == s; }

// Text that a quoted string holds as it is: no line breaks or other control characters, no 0.
bool PlainText(std::string_view s) {
    for (char c : s)
        if ((unsigned char)c < 0x20 && c != '\t') return false;
    return ValidUtf8(s);
}

void AppendHex(std::string& out, std::string_view prefix, std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    out += prefix;
    size_t col = out.size() - out.rfind('\n') - 1;
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = bytes[i];
        out += digits[b >> 4];
        out += digits[b & 15];
        col += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++col;
            if (col > 76) {
                out += "\\\n  ";
                col = 2;
            }
        }
    }
    out += '\n';
}

void AppendValue(std::string& out, const Value& v) {
    if (v.name.empty()) out += '@';
    else AppendQuoted(out, v.name);
    out += '=';
    if (v.type == REG_SZ) {
        std::string_view text = v.data;
        if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
        if (PlainText(text)) {
            AppendQuoted(out, text);
            out += '\n';
            return;
        }
    }
    if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = 0;
        for (int i = 3; i >= 0; --i) d = (d << 8) | (unsigned char)v.data[i];
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x\n", d);
        out += buf;
        return;
    }
    std::string prefix = "hex:";
    if (v.type != REG_BINARY) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        prefix = buf;
    }
    AppendHex(out, prefix, IsStringType(v.type) ? Utf8ToUtf16LeBytes(v.data) : v.data);
}

void AppendKey(std::string& out, const Node& node, const std::string& path, bool isRoot) {
    if (!isRoot || !node.Values().empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const Value& v : node.Values()) AppendValue(out, v);
        out += '\n';
    }
    for (const auto& child : node.Children()) AppendKey(out, *child, path + '\\' + child->Name(), false);
}

}  // namespace

std::string WriteRegText(const Node& root, const std::string& rootName) {
    std::string out = "Windows Registry Editor Version 5.00\n\n";
    AppendKey(out, root, rootName, true);
    return out;
}

}  // namespace regstore
