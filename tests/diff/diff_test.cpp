// quibrel-tlb diff: each rule from a pair of libraries that differ in one change, the exit
// bits, the JSON document against its schema, usage and unreadable input, and the 32- and
// 64-bit builds of one fixture.
#include "diffrun.h"
#include "../hostile/damage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>

namespace {

// Edits one MSFT library for cases widl cannot write: Edit(bytes, type base record, member
// record or -1) on the named type and member (empty: the type alone).
template <class Edit>
bool Patch(const QString& in, const QString& out, const std::string& type, const std::string& member, Edit edit) {
    std::ifstream f(in.toStdString(), std::ios::binary);
    damage::Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    damage::Msft m;
    if (!damage::ParseMsft(b, &m)) return false;
    auto nameAt = [&](std::int32_t off) -> std::string {
        const std::int64_t e = std::int64_t(m.Seg(b, 7)) + off;
        if (off < 0 || !damage::In(b, e, 12)) return {};
        const std::size_t len = b[std::size_t(e + 8)];
        if (!damage::In(b, e + 12, std::int64_t(len))) return {};
        return std::string(b.begin() + e + 12, b.begin() + e + 12 + std::int64_t(len));
    };
    auto write = [&] {
        std::ofstream o(out.toStdString(), std::ios::binary);
        o.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return bool(o);
    };
    for (int t = 0; t < m.count; ++t) {
        const std::int64_t base = m.TypeBase(b, t);
        if (nameAt(damage::Get32(b, base + 0x34)) != type) continue;
        if (member.empty()) {
            edit(b, base, std::int64_t(-1));
            return write();
        }
        const std::int64_t block = damage::Get32(b, base + 4);
        const std::int32_t ce = damage::Get32(b, base + 0x18);
        const int members = (ce & 0xFFFF) + ((ce >> 16) & 0xFFFF);
        const std::int64_t names = block + 4 + damage::Get32(b, block) + 4 * members, offs = names + 4 * members;
        for (int k = 0; k < members; ++k) {
            if (nameAt(damage::Get32(b, names + 4 * k)) != member) continue;
            edit(b, base, block + 4 + damage::Get32(b, offs + 4 * k));
            return write();
        }
    }
    return false;
}

const char* const kNotRaised = "breaking\tversion-not-raised\tQuibrelDiff\t1.0";

struct RuleCase {
    const char* define;
    int status;  // without --all
    std::vector<const char*> lines;  // with --all
};

const RuleCase kRuleCases[] = {
    {"LIBRARY_GUID", 12, {"breaking\tlibrary-guid-changed\tQuibrelDiff\t{7A0C5E00-1F2B-4C3D-8E9F-0000D1FF0000} -> {7A0C5E00-1F2B-4C3D-8E9F-0000D1FF0099}", kNotRaised}},
    {"LIBRARY_VERSION", 0, {"info\tversion-changed\tQuibrelDiff\t1.0 -> 1.1"}},
    {"LIBRARY_DOC", 0, {"info\tdoc-changed\tQuibrelDiff\t\"Diff pairs\" -> \"Diff pairs, again\""}},
    {"ENUM_VALUE", 12, {kNotRaised, "breaking\tenum-value-changed\tColour.Blue\t2 -> 5"}},
    {"ENUM_ADDED", 4, {"compatible\tmember-added\tColour.Cyan\t3"}},
    {"FIELD_TYPE", 12, {kNotRaised, "breaking\trecord-layout-changed\tPoint\tsize 16 -> size 24",
                        "breaking\trecord-layout-changed\tPoint.Tag\toffset 8 -> offset 16",
                        "breaking\trecord-layout-changed\tPoint.Y\toffset 4 -> offset 8",
                        "breaking\trecord-layout-changed\tPoint.Y\tlong -> double"}},
    {"ALIAS_CHANGED", 12, {kNotRaised, "breaking\talias-changed\tHandle\tlong -> double"}},
    {"KIND_CHANGED", 12, {kNotRaised, "breaking\tkind-changed\tMorph\tstruct -> enum"}},
    {"GUID_CHANGED", 12, {kNotRaised, "breaking\tguid-changed\tIPing\t{7A0C5E00-1F2B-4C3D-8E9F-0000D1FF0020} -> {7A0C5E00-1F2B-4C3D-8E9F-0000D1FF0098}"}},
    {"RENAMED", 4, {"compatible\tname-changed\tIPing\tIPing -> IPinger"}},
    {"FLAGS_CHANGED", 0, {"info\tflags-changed\tIPing\toleautomation -> hidden, oleautomation"}},
    {"CUSTOM_CHANGED", 0, {"info\tcustom-changed\tIPing\t{7A0C5E00-1F2B-4C3D-8E9F-0000D1FF00CC}=\"one\" -> {7A0C5E00-1F2B-4C3D-8E9F-0000D1FF00CC}=\"two\""}},
    {"SLOT_CHANGED", 12, {kNotRaised, "breaking\tvtable-slot-changed\tIShape.Area\tslot 4 -> slot 3",
                          "breaking\tvtable-slot-changed\tIShape.Move\tslot 3 -> slot 4"}},
    {"PARAMS_CHANGED", 12, {kNotRaised, "breaking\tparams-changed\tIShape.Move\t([in] long dx, [in] long dy) -> ([in] long dx, [in] double dy)"}},
    {"PARAM_FLAGS", 12, {kNotRaised, "breaking\tparams-changed\tIShape.Move\t([in] long dx, [in] long dy) -> ([in] long dx, [in, out] long* dy)"}},
    {"INVKIND_CHANGED", 12, {kNotRaised, "breaking\tinvkind-changed\tIShape.Area\tmethod -> property get"}},
    // A removed method also moves the ones after it, in derived interfaces too.
    {"MEMBER_REMOVED", 12, {kNotRaised, "breaking\tvtable-slot-changed\tIChild.Extra\tslot 6 -> slot 5",
                            "breaking\tmember-removed\tIShape.Area\tHRESULT Area([out, retval] double* value)",
                            "breaking\tvtable-slot-changed\tIShape.Count\tslot 5 -> slot 4"}},
    {"RETURN_CHANGED", 12, {kNotRaised, "breaking\treturn-changed\tIShape.Count\tlong -> short"}},
    {"METHOD_ADDED", 12, {kNotRaised, "breaking\tvtable-slot-changed\tIChild.Extra\tslot 6 -> slot 7",
                          "breaking\tmethod-added\tIShape.Grow\tHRESULT Grow([in] double factor)"}},
    {"BASE_CHANGED", 12, {kNotRaised, "breaking\tbase-changed\tIChild\tIShape -> IPing",
                          "breaking\tvtable-slot-changed\tIChild.Extra\tslot 6 -> slot 4"}},
    {"DISPID_CHANGED", 12, {kNotRaised, "breaking\tdispid-changed\tDEvents.Fired\tDISPID 2 -> DISPID 7"}},
    {"DUAL_DISPID", 12, {kNotRaised, "breaking\tdispid-changed\tIDualThing.Name\tDISPID 1 -> DISPID 5"}},
    {"EVENT_ADDED", 4, {"compatible\tmember-added\tDEvents.Closed\tvoid Closed()"}},
    {"MEMBER_DOC", 0, {"info\tdoc-changed\tIDualThing.Name\t\"The name\" -> \"What it is called\""}},
    {"DEFAULT_VALUE", 4, {"compatible\tdefault-value-changed\tIDualThing.Scale\t([in, optional, defaultvalue(1)] long factor) -> ([in, optional, defaultvalue(2)] long factor)"}},
    {"ROLE_LOST", 12, {kNotRaised, "breaking\tcoclass-interface-removed\tThing\t[default, source] DEvents -> [source] DEvents",
                       "info\tflags-changed\tThing\t[source] DMoreEvents -> [default, source] DMoreEvents"}},
    {"COCLASS_REMOVED", 12, {kNotRaised, "info\tflags-changed\tThing\t[source] DMoreEvents -> [default, source] DMoreEvents",
                             "breaking\tcoclass-interface-removed\tThing\t[default, source] DEvents"}},
    {"COCLASS_ADDED", 4, {"compatible\tcoclass-interface-added\tThing\tIShape"}},
    {"MODULE_ENTRY", 12, {kNotRaised, "breaking\tmodule-entry-changed\tThingApi.ThingStart\t\"thing.dll\" #17 -> \"thing.dll\" #18"}},
    {"TYPE_REMOVED", 12, {kNotRaised, "breaking\ttype-removed\tILegacy\tinterface"}},
    {"TYPE_ADDED", 4, {"compatible\ttype-added\tIFresh\tinterface"}},
    // The compilers' stamps (time of compilation, command line) are no change.
    {"STAMPS", 0, {}},
    // A breaking change with the version raised: no version-not-raised.
    {"VERSION_RAISED", 0, {"info\tversion-changed\tQuibrelDiff\t1.0 -> 2.0"}},
};

QByteArray Lines(const std::vector<const char*>& lines) {
    QByteArray out;
    for (const char* l : lines) out += QByteArray(l) + '\n';
    return out;
}

// Checks documents against docs/quibrel-tlb-diff.schema.json with the validator of the JSON tests.
void ExpectValid(const QList<QByteArray>& documents) {
    QTemporaryDir dir;
    for (qsizetype i = 0; i < documents.size(); ++i) {
        QFile f(dir.filePath(QStringLiteral("%1.json").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(documents[i]);
    }
    DiffRun r = RunProgram(QStringLiteral(QUIBREL_PYTHON3),
                           {QStringLiteral(QUIBREL_SOURCE_DIR "/tests/json/validate.py"),
                            QStringLiteral(QUIBREL_SOURCE_DIR "/docs/quibrel-tlb-diff.schema.json"), dir.path()});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
}

TEST(DiffRules, EachChangeGivesItsLineAndStatus) {
    Pairs& pairs = Pairs::Get();
    ASSERT_TRUE(pairs.BaseError().isEmpty()) << pairs.BaseError().toStdString();
    const QString base = pairs.Path(QStringLiteral("base"));
    // A library against itself: nothing, even with --all.
    DiffRun same = RunDiff({base, base, QStringLiteral("--all")});
    EXPECT_EQ(same.code, 0) << same.err.toStdString();
    EXPECT_EQ(same.out, QByteArray());
    EXPECT_EQ(same.err, QByteArray());

    QList<QByteArray> documents;
    for (const RuleCase& c : kRuleCases) {
        SCOPED_TRACE(c.define);
        const QString define = QString::fromLatin1(c.define);
        const QString error = pairs.Variant(define);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        const QString changed = pairs.Path(define);
        DiffRun all = RunDiff({base, changed, QStringLiteral("--all")});
        EXPECT_EQ(all.out, Lines(c.lines));
        EXPECT_EQ(all.err, QByteArray());
        DiffRun shown = RunDiff({base, changed});
        EXPECT_EQ(shown.code, c.status);
        // Without --all, the same lines less the info ones.
        QByteArray expected;
        for (const char* l : c.lines)
            if (std::strncmp(l, "info\t", 5) != 0) expected += QByteArray(l) + '\n';
        EXPECT_EQ(shown.out, expected);
        DiffRun json = RunDiff({base, changed, QStringLiteral("--json"), QStringLiteral("--all")});
        EXPECT_EQ(json.code, all.code);
        const QJsonObject doc = QJsonDocument::fromJson(json.out).object();
        EXPECT_EQ(doc.value(QStringLiteral("changes")).toArray().size(), qsizetype(c.lines.size()));
        documents << json.out;
    }
    ExpectValid(documents);
}

TEST(DiffRules, CallingConvention) {
    Pairs& pairs = Pairs::Get();
    ASSERT_TRUE(pairs.BaseError().isEmpty());
    const QString base = pairs.Path(QStringLiteral("base"));
    const QString cdecl = QDir(pairs.Dir()).filePath(QStringLiteral("cdecl.tlb"));
    // widl writes only stdcall: the function record's FKCCIC word holds it in bits 8 to 11.
    ASSERT_TRUE(Patch(base, cdecl, "IShape", "Count", [](damage::Bytes& b, std::int64_t, std::int64_t rec) {
        damage::Put32(b, rec + 16, (std::uint32_t(damage::Get32(b, rec + 16)) & ~0xF00u) | (1u << 8));
    }));
    DiffRun r = RunDiff({base, cdecl});
    EXPECT_EQ(r.code, 12);
    EXPECT_EQ(r.out, Lines({kNotRaised, "breaking\tcallconv-changed\tIShape.Count\tstdcall -> cdecl"}));
}

TEST(DiffCommand, JsonDocument) {
    Pairs& pairs = Pairs::Get();
    ASSERT_TRUE(pairs.Variant(QStringLiteral("ROLE_LOST")).isEmpty());
    const QString base = pairs.Path(QStringLiteral("base"));
    DiffRun r = RunDiff({base, pairs.Path(QStringLiteral("ROLE_LOST")), QStringLiteral("--json")});
    EXPECT_EQ(r.code, 12);
    ASSERT_TRUE(r.out.endsWith("}\n"));
    const QJsonObject doc = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(doc[QStringLiteral("old")].toObject()[QStringLiteral("path")].toString(), base);
    EXPECT_EQ(doc[QStringLiteral("new")].toObject()[QStringLiteral("version")].toString(), QStringLiteral("1.0"));
    const QJsonArray changes = doc[QStringLiteral("changes")].toArray();
    ASSERT_EQ(changes.size(), 2);  // the info line only with --all
    EXPECT_TRUE(changes[0].toObject()[QStringLiteral("type")].isNull());
    const QJsonObject lost = changes[1].toObject();
    EXPECT_EQ(lost[QStringLiteral("rule")].toString(), QStringLiteral("coclass-interface-removed"));
    EXPECT_EQ(lost[QStringLiteral("type")].toString(), QStringLiteral("Thing"));
    EXPECT_TRUE(lost[QStringLiteral("member")].isNull());
    EXPECT_EQ(lost[QStringLiteral("new")].toString(), QStringLiteral("[source] DEvents"));
}

TEST(DiffCommand, UsageAndUnreadableInput) {
    Pairs& pairs = Pairs::Get();
    const QString base = pairs.Path(QStringLiteral("base"));
    EXPECT_EQ(RunDiff({}).code, 2);
    EXPECT_EQ(RunDiff({base}).code, 2);
    EXPECT_EQ(RunDiff({base, base, base}).code, 2);
    EXPECT_EQ(RunDiff({base, base, QStringLiteral("--bogus")}).code, 2);
    // Never "no change" for what could not be read; the JSON says which.
    DiffRun missing = RunDiff({base, QStringLiteral("/nonexistent/x.tlb")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.startsWith("cannot load /nonexistent/x.tlb: ")) << missing.err.toStdString();
    DiffRun json = RunDiff({QStringLiteral("/nonexistent/x.tlb"), base, QStringLiteral("--json")});
    EXPECT_EQ(json.code, 1);
    const QJsonArray problems = QJsonDocument::fromJson(json.out).object()[QStringLiteral("problems")].toArray();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_EQ(problems[0].toObject()[QStringLiteral("library")].toString(), QStringLiteral("old"));
    // A type whose members cannot be read: exit 1, even for a library against itself, and no
    // removal reported in its place.
    const QString damaged = QDir(pairs.Dir()).filePath(QStringLiteral("damaged.tlb"));
    ASSERT_TRUE(Patch(base, damaged, "IShape", "", [](damage::Bytes& b, std::int64_t type, std::int64_t) {
        damage::Put32(b, type + 4, 0x7FFFFFF0u);
    }));
    DiffRun self = RunDiff({damaged, damaged});
    EXPECT_EQ(self.code, 1);
    EXPECT_TRUE(self.out.isEmpty());
    EXPECT_TRUE(self.err.contains("cannot compare old library: type ")) << self.err.toStdString();
    DiffRun against = RunDiff({base, damaged});
    EXPECT_EQ(against.code & 1, 1);
    EXPECT_FALSE(against.out.contains("member-removed\tIShape.")) << against.out.toStdString();
    ExpectValid({json.out, RunDiff({base, damaged, QStringLiteral("--json")}).out});
}

// The two builds differ only where pointer-sized fields move a record's layout.
TEST(DiffCommand, Win32AgainstWin64) {
    DiffRun r = RunDiff({QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb"), QStringLiteral(QUIBREL_FIXTURE_DIR "/win32/QuibrelTest.tlb"),
                         QStringLiteral("--all")});
    EXPECT_EQ(r.code, 12) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.startsWith("breaking\trecord-layout-changed\tShape")) << line.toStdString();
    }
    EXPECT_TRUE(lines.contains("breaking\trecord-layout-changed\tShape\tsize 160 -> size 144"));
}

}  // namespace
