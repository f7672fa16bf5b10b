// The text `dump` prints, derived from the JSON document of the same library, and the check
// that the two agree.
#include "jsonrun.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

std::string Utf8(const QJsonValue& v) { return v.toString().toStdString(); }

// A name as dump prints it: "?" when null or empty.
std::string Name(const QJsonValue& v) {
    std::string s = Utf8(v);
    return s.empty() ? "?" : s;
}

// Text as dump quotes it: up to a 0 character, quotes, backslashes and control bytes escaped.
std::string Quoted(const QJsonValue& v) {
    std::string out = "\"";
    for (unsigned char c : Utf8(v)) {
        if (c == 0) break;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\x%02X", c);
                out += b;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string Hex(long long v, int digits) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return b;
}

// An enumeration field back to its number, by the platform's names.
long long EnumNumber(const QJsonValue& v) {
    static const std::pair<const char*, int> names[] = {
        {"SYS_WIN16", 0},         {"SYS_WIN32", 1},           {"SYS_MAC", 2},           {"SYS_WIN64", 3},
        {"INVOKE_FUNC", 1},       {"INVOKE_PROPERTYGET", 2},  {"INVOKE_PROPERTYPUT", 4}, {"INVOKE_PROPERTYPUTREF", 8},
        {"FUNC_VIRTUAL", 0},      {"FUNC_PUREVIRTUAL", 1},    {"FUNC_NONVIRTUAL", 2},   {"FUNC_STATIC", 3},
        {"FUNC_DISPATCH", 4},     {"VAR_PERINSTANCE", 0},     {"VAR_STATIC", 1},        {"VAR_CONST", 2},
        {"VAR_DISPATCH", 3}};
    if (v.isDouble()) return v.toInteger();
    for (const auto& [n, value] : names)
        if (v.toString() == QLatin1String(n)) return value;
    ADD_FAILURE() << "unknown enumeration name " << Utf8(v);
    return -1;
}

std::string Error(const QJsonValue& v) { return Utf8(v.toObject().value("error")); }

std::string TypeDesc(const QJsonValue& v) {
    QJsonObject o = v.toObject();
    if (!o.contains("vt")) return Error(o) == "0x80029C84" ? "..." : "";  // nested too deep; missing
    std::string vt = Utf8(o.value("vt"));
    if (vt == "PTR" || vt == "SAFEARRAY") return vt + "(" + TypeDesc(o.value("of")) + ")";
    if (vt == "CARRAY") {
        if (!o.contains("bounds")) return vt;
        std::string s = vt + "[";
        QJsonArray bounds = o.value("bounds").toArray();
        for (qsizetype i = 0; i < bounds.size(); ++i) {
            QJsonObject b = bounds[i].toObject();
            if (i) s += ",";
            s += std::to_string(b.value("lLbound").toInteger()) + ":" + std::to_string(b.value("cElements").toInteger());
        }
        return s + "](" + TypeDesc(o.value("of")) + ")";
    }
    if (vt == "USERDEFINED") return vt + "(" + (o.contains("error") ? "?" : Name(o.value("name"))) + ")";
    return vt;
}

std::string Value(const QJsonObject& v) {
    std::string vt = Utf8(v.value("vt"));
    QJsonValue value = v.value("value");
    char b[64];
    if (vt == "I1" || vt == "UI1" || vt == "I2" || vt == "UI2" || vt == "I4" || vt == "UI4" || vt == "INT" ||
        vt == "UINT" || vt == "BOOL" || vt == "ERROR")
        return vt + ":" + std::to_string(value.toInteger());
    if (vt == "I8" || vt == "UI8") return vt + ":" + Utf8(value);
    if (vt == "R4" || vt == "R8") {
        double d = value.toDouble();
        if (value.isString()) {
            QString s = value.toString();
            d = s == "NaN" ? std::nan("") : s == "Infinity" ? HUGE_VAL : -HUGE_VAL;
        }
        if (vt == "R4") std::snprintf(b, sizeof b, "R4:%.9g", double(float(d)));
        else std::snprintf(b, sizeof b, "R8:%.17g", d);
        return b;
    }
    if (vt == "BSTR") return "BSTR:" + Quoted(value);
    return vt;
}

void Members(std::ostringstream& out, const QJsonObject& t) {
    QJsonArray funcs = t.value("functions").toArray();
    for (qsizetype j = 0; j < funcs.size(); ++j) {
        QJsonObject f = funcs[j].toObject();
        if (f.contains("error")) {
            out << "  func " << j << " ?\n";
            continue;
        }
        QJsonArray params = f.value("params").toArray();
        out << "  func " << j << ' ' << Name(f.value("name")) << " memid " << Hex(std::uint32_t(f.value("memid").toInt()), 8)
            << " invkind " << EnumNumber(f.value("invkind")) << " funckind " << EnumNumber(f.value("funckind"))
            << " flags " << Hex(f.value("flags").toObject().value("value").toInteger(), 4) << " params "
            << params.size() << " opt " << f.value("cParamsOpt").toInt() << " returns " << TypeDesc(f.value("returns"))
            << "\n    doc " << Quoted(f.value("doc")) << '\n';
        QJsonArray names = f.value("names").toArray();
        qsizetype count = std::min<qsizetype>(names.size(), 64);
        out << "    names " << count;
        for (qsizetype k = 0; k < count; ++k) out << ' ' << Name(names[k]);
        out << '\n';
        for (qsizetype k = 0; k < params.size(); ++k) {
            QJsonObject p = params[k].toObject();
            out << "    param " << k << " flags " << Hex(p.value("flags").toObject().value("value").toInteger(), 4)
                << ' ' << TypeDesc(p.value("type")) << '\n';
        }
    }
    QJsonArray vars = t.value("variables").toArray();
    for (qsizetype j = 0; j < vars.size(); ++j) {
        QJsonObject v = vars[j].toObject();
        if (v.contains("error")) {
            out << "  var " << j << " ?\n";
            continue;
        }
        out << "  var " << j << ' ' << Name(v.value("name")) << " memid " << Hex(std::uint32_t(v.value("memid").toInt()), 8)
            << " varkind " << EnumNumber(v.value("varkind")) << " flags "
            << Hex(v.value("flags").toObject().value("value").toInteger(), 4) << " type " << TypeDesc(v.value("type"));
        if (v.contains("value")) out << " = " << Value(v.value("value").toObject());
        out << "\n    doc " << Quoted(v.value("doc")) << '\n';
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The first line where the two texts differ, for the failure message.
std::string FirstDifference(const std::string& want, const std::string& got) {
    std::vector<std::string> a = Lines(want), b = Lines(got);
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        std::string x = i < a.size() ? a[i] : "<end>", y = i < b.size() ? b[i] : "<end>";
        if (x != y) return "line " + std::to_string(i + 1) + "\n  dump: " + x + "\n  json: " + y;
    }
    return "same lines";
}

}  // namespace

// The library's dump, and the dump derived from its JSON, agree; false when `dump` cannot load it.
bool ExpectSameFacts(const std::string& file) {
    SCOPED_TRACE(file);
    ToolRun dump = RunTool("dump", file);
    JsonRun json = RunJson(file);
    EXPECT_EQ(json.status, dump.status);
    if (dump.status != 0) {
        EXPECT_TRUE(json.doc.contains("error"));
        return false;
    }
    EXPECT_TRUE(json.parseError.isEmpty()) << json.parseError.toStdString();
    std::string want = dump.out.toStdString(), got = DumpFromJson(json.doc);
    EXPECT_TRUE(want == got) << FirstDifference(want, got);
    return true;
}


std::string DumpFromJson(const QJsonObject& doc) {
    std::ostringstream out;
    QJsonObject lib = doc.value("library").toObject();
    out << "library " << Name(lib.value("name")) << "\n  doc " << Quoted(lib.value("doc")) << '\n';
    if (lib.contains("error")) {
        out << "  guid ?\n";
    } else {
        QJsonObject v = lib.value("version").toObject();
        out << "  guid " << Utf8(lib.value("guid")) << " version " << v.value("major").toInt() << '.'
            << v.value("minor").toInt() << " lcid " << lib.value("lcid").toInteger() << " syskind "
            << EnumNumber(lib.value("syskind")) << " flags " << Hex(lib.value("flags").toObject().value("value").toInteger(), 4)
            << '\n';
    }
    QJsonArray types = doc.value("types").toArray();
    out << "  types " << types.size() << '\n';
    for (qsizetype i = 0; i < types.size(); ++i) {
        QJsonObject t = types[i].toObject();
        if (t.contains("error")) {
            out << "type " << i << " ?\n";
            continue;
        }
        QJsonValue kind = t.value("kind");
        QJsonObject v = t.value("version").toObject();
        out << "type " << i << ' ' << (kind.isString() ? Utf8(kind) : "TKIND_MAX") << ' ' << Name(t.value("name"))
            << "\n  doc " << Quoted(t.value("doc")) << "\n  guid " << Utf8(t.value("guid")) << " flags "
            << Hex(t.value("flags").toObject().value("value").toInteger(), 4) << " funcs "
            << t.value("functions").toArray().size() << " vars " << t.value("variables").toArray().size() << " impls "
            << t.value("implTypes").toArray().size() << " version " << v.value("major").toInt() << '.'
            << v.value("minor").toInt() << '\n';
        if (t.contains("alias")) out << "  alias " << TypeDesc(t.value("alias")) << '\n';
        QJsonArray impls = t.value("implTypes").toArray();
        for (qsizetype j = 0; j < impls.size(); ++j) {
            QJsonObject im = impls[j].toObject();
            QJsonObject flags = im.value("flags").toObject(), ref = im.value("type").toObject();
            out << "  impl " << j << " flags "
                << (flags.contains("error") ? std::string("?") : std::to_string(flags.value("value").toInteger()))
                << ' ' << (ref.contains("error") ? std::string("?") : Name(ref.value("name"))) << '\n';
        }
        Members(out, t);
    }
    return out.str();
}
