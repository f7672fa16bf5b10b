// `quibrel-tlb json`: the facts of the fixtures as a script reads them, the command line, and
// damaged libraries.
#include "jsonrun.h"

#include "writers/libjson.h"
#include "hostile/damage.h"
#include "platform/oleauto/comptr.h"

#include <gtest/gtest.h>
#include <rapidjson/reader.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

QJsonObject TypeNamed(const QJsonObject& doc, const QString& name) {
    for (const QJsonValue& t : doc.value("types").toArray())
        if (t.toObject().value("name") == name) return t.toObject();
    ADD_FAILURE() << "no type " << name.toStdString();
    return {};
}

QJsonObject Named(const QJsonObject& type, const char* list, const QString& name, int nth = 0) {
    for (const QJsonValue& m : type.value(list).toArray())
        if (m.toObject().value("name") == name && nth-- == 0) return m.toObject();
    ADD_FAILURE() << "no " << list << " " << name.toStdString() << " in " << type.value("name").toString().toStdString();
    return {};
}

QJsonObject Obj(const char* json) { return QJsonDocument::fromJson(json).object(); }

const char* const kSharedGuid = "{7A0C5E00-1F2B-4C3D-8E9F-000000100000}";

TEST(Json, LibraryAndTypeFactsOfTheTestLibrary) {
    JsonRun r = RunJson(Fixture("QuibrelTest.tlb"));
    ASSERT_EQ(r.status, 0);
    ASSERT_TRUE(r.parseError.isEmpty()) << r.parseError.toStdString();
    QJsonObject lib = r.doc.value("library").toObject();
    EXPECT_EQ(lib.value("name"), "QuibrelTest");
    EXPECT_EQ(lib.value("doc"), QString::fromUtf8("Quibrel test library: \"every\" construct, Größe"));
    EXPECT_EQ(lib.value("guid"), "{7A0C5E00-1F2B-4C3D-8E9F-000000200000}");
    EXPECT_EQ(lib.value("version"), Obj(R"({"major":2,"minor":5})"));
    EXPECT_EQ(lib.value("syskind"), "SYS_WIN64");

    QJsonObject dir = TypeNamed(r.doc, "Direction");
    EXPECT_EQ(dir.value("kind"), "TKIND_ENUM");
    EXPECT_EQ(dir.value("version"), Obj(R"({"major":1,"minor":5})"));
    QJsonObject down = Named(dir, "variables", "dirDown");
    EXPECT_EQ(down.value("varkind"), "VAR_CONST");
    EXPECT_EQ(down.value("value"), Obj(R"({"vt":"I4","value":-1})"));
    EXPECT_FALSE(down.contains("oInst"));

    // Fields: instance offsets, arrays with their bounds, references here and in the import.
    QJsonObject shape = TypeNamed(r.doc, "Shape");
    EXPECT_EQ(shape.value("kind"), "TKIND_RECORD");
    EXPECT_GT(shape.value("sizes").toObject().value("cbSizeInstance").toInt(), 0);
    qint64 lastOffset = -1;
    for (const QJsonValue& v : shape.value("variables").toArray()) {
        EXPECT_EQ(v.toObject().value("varkind"), "VAR_PERINSTANCE");
        EXPECT_GT(v.toObject().value("oInst").toInteger(), lastOffset);
        lastOffset = v.toObject().value("oInst").toInteger();
    }
    EXPECT_EQ(Named(shape, "variables", "Corners").value("type"),
              Obj(R"({"vt":"CARRAY","bounds":[{"lLbound":0,"cElements":4}],"of":{"vt":"I2"}})"));
    EXPECT_EQ(Named(shape, "variables", "Matrix").value("type").toObject().value("bounds").toArray().size(), 2);
    QJsonObject box = Named(shape, "variables", "Box").value("type").toObject();
    EXPECT_EQ(box.value("library"), "self");
    EXPECT_EQ(box.value("name"), "Bounds");
    EXPECT_EQ(r.doc.value("types").toArray()[box.value("type").toInt()].toObject().value("name"), "Bounds");
    EXPECT_EQ(Named(shape, "variables", "Origin").value("type"),
              Obj(R"({"vt":"USERDEFINED","library":"{7A0C5E00-1F2B-4C3D-8E9F-000000100000}",)"
                  R"("version":{"major":1,"minor":2},"type":"SharedPoint","name":"SharedPoint"})"));
    EXPECT_EQ(TypeNamed(r.doc, "Handle32").value("alias"), Obj(R"({"vt":"I4"})"));

    QJsonObject canvas = TypeNamed(r.doc, "Canvas");
    QJsonArray impls = canvas.value("implTypes").toArray();
    ASSERT_EQ(impls.size(), 4);
    EXPECT_EQ(impls[2].toObject().value("flags"),
              Obj(R"({"value":3,"names":["IMPLTYPEFLAG_FDEFAULT","IMPLTYPEFLAG_FSOURCE"]})"));
    EXPECT_EQ(impls[2].toObject().value("type").toObject().value("name"), "DCanvasEvents");
    EXPECT_EQ(canvas.value("flags").toObject().value("names"), QJsonArray{"TYPEFLAG_FCANCREATE"});
}

TEST(Json, ADualInterfaceGivesItsDispatchViewAndItsInterfaceSide) {
    JsonRun r = RunJson(Fixture("QuibrelTest.tlb"));
    ASSERT_TRUE(r.parseError.isEmpty());
    QJsonObject shapes = TypeNamed(r.doc, "IShapes");
    EXPECT_EQ(shapes.value("kind"), "TKIND_DISPATCH");
    EXPECT_TRUE(shapes.value("flags").toObject().value("names").toArray().contains("TYPEFLAG_FDUAL"));
    QJsonObject add = Named(shapes, "functions", "Add");
    EXPECT_EQ(add.value("funckind"), "FUNC_DISPATCH");
    EXPECT_EQ(add.value("memid"), 5);

    QJsonObject side = shapes.value("interface").toObject();
    EXPECT_EQ(side.value("kind"), "TKIND_INTERFACE");
    EXPECT_EQ(side.value("index"), shapes.value("index"));
    EXPECT_FALSE(side.contains("interface"));
    int lastSlot = -1;
    for (const QJsonValue& f : side.value("functions").toArray()) {
        EXPECT_EQ(f.toObject().value("funckind"), "FUNC_PUREVIRTUAL");
        EXPECT_EQ(f.toObject().value("callconv"), "CC_STDCALL");
        EXPECT_GT(f.toObject().value("oVft").toInt(), lastSlot);
        lastSlot = f.toObject().value("oVft").toInt();
    }
    // The interface side keeps the HRESULT and the retval parameter, and the defaults.
    QJsonObject vAdd = Named(side, "functions", "Add");
    EXPECT_EQ(vAdd.value("returns"), Obj(R"({"vt":"HRESULT"})"));
    QJsonArray params = vAdd.value("params").toArray();
    ASSERT_EQ(params.size(), 5);
    EXPECT_EQ(params[0].toObject().value("name"), "label");
    EXPECT_FALSE(params[0].toObject().contains("default"));
    EXPECT_EQ(params[2].toObject().value("default"), Obj(R"({"vt":"I4","value":1})"));
    EXPECT_EQ(params[3].toObject().value("default"), Obj(R"({"vt":"BSTR","value":"box"})"));
    EXPECT_EQ(params[4].toObject().value("flags"),
              Obj(R"({"value":10,"names":["PARAMFLAG_FOUT","PARAMFLAG_FRETVAL"]})"));
    EXPECT_EQ(params[4].toObject().value("type"), Obj(R"({"vt":"PTR","of":{"vt":"I4"}})"));
    QJsonObject place = Named(side, "functions", "Place");
    EXPECT_EQ(place.value("params").toArray()[1].toObject().value("default"), Obj(R"({"vt":"I2","value":-7})"));
    EXPECT_EQ(place.value("params").toArray()[0].toObject().value("type").toObject().value("of").toObject().value("library"),
              kSharedGuid);

    // Property accessors keep their own kinds; a dispinterface has no interface side.
    EXPECT_EQ(Named(side, "functions", "Title", 1).value("invkind"), "INVOKE_PROPERTYPUT");
    EXPECT_EQ(Named(side, "functions", "Holder", 1).value("invkind"), "INVOKE_PROPERTYPUTREF");
    EXPECT_FALSE(TypeNamed(r.doc, "DPanel").contains("interface"));
}

TEST(Json, ValuesAndStructuredTypes) {
    JsonRun test = RunJson(Fixture("QuibrelTest.tlb"));
    ASSERT_TRUE(test.parseError.isEmpty());
    QJsonObject dir = TypeNamed(test.doc, "Direction");
    EXPECT_EQ(Named(dir, "variables", "dirFar").value("value"), Obj(R"({"vt":"I4","value":2147483647})"));
    EXPECT_EQ(Named(dir, "variables", "dirBack").value("value"), Obj(R"({"vt":"I4","value":-2147483648})"));

    JsonRun r = RunJson(Fixture("QuibrelJson.tlb"));
    ASSERT_TRUE(r.parseError.isEmpty());
    QJsonObject grid = TypeNamed(r.doc, "Grid");
    EXPECT_EQ(Named(grid, "variables", "Cells").value("type"),
              Obj(R"({"vt":"CARRAY","bounds":[{"lLbound":0,"cElements":3},{"lLbound":0,"cElements":2}],"of":{"vt":"I2"}})"));
    EXPECT_EQ(Named(grid, "variables", "Cells").value("oInst"), 0);
    EXPECT_EQ(Named(grid, "variables", "Weight").value("oInst"), 16);
    QJsonObject go = Named(TypeNamed(r.doc, "IJson").value("interface").toObject(), "functions", "Go");
    QJsonArray params = go.value("params").toArray();
    EXPECT_EQ(params[0].toObject().value("default"), Obj(R"({"vt":"I2","value":-5})"));
    EXPECT_EQ(params[2].toObject().value("type"), Obj(R"({"vt":"PTR","of":{"vt":"SAFEARRAY","of":{"vt":"BSTR"}}})"));
    QJsonObject self = params[3].toObject().value("type").toObject().value("of").toObject().value("of").toObject();
    EXPECT_EQ(self.value("library"), "self");
    EXPECT_EQ(self.value("name"), "IJson");
}

// Custom data and help-string contexts as the library holds them.
TEST(Json, CustomDataAndHelpStringContexts) {
    JsonRun r = RunJson(Fixture("QuibrelJson.tlb"));
    ASSERT_TRUE(r.parseError.isEmpty());
    QJsonObject lib = r.doc.value("library").toObject();
    ASSERT_TRUE(lib.value("customData").isArray());
    // widl adds its own stamps (version, time, command line) beside ours.
    const QJsonValue ours = Obj(R"({"guid":"{7A0C5E00-1F2B-4C3D-8E9F-0000003000F0}",)"
                                R"("value":{"vt":"BSTR","value":"library data"}})");
    EXPECT_TRUE(lib.value("customData").toArray().contains(ours));
    EXPECT_EQ(TypeNamed(r.doc, "Limits").value("customData").toArray().size(), 1);
    QJsonObject go = Named(TypeNamed(r.doc, "IJson").value("interface").toObject(), "functions", "Go");
    EXPECT_EQ(go.value("customData").toArray().size(), 1);
    EXPECT_EQ(Named(TypeNamed(r.doc, "Grid"), "variables", "Count").value("customData").toArray().size(), 1);
    EXPECT_EQ(lib.value("helpStringContext"), 0x55);
    QJsonObject json = TypeNamed(r.doc, "IJson");
    EXPECT_EQ(json.value("helpStringContext"), 0x66);
    EXPECT_EQ(json.value("interface").toObject().value("helpStringContext"), 0x66);
    EXPECT_EQ(Named(json.value("interface").toObject(), "functions", "Go").value("helpStringContext"), 0x77);
    for (const QJsonValue& t : r.doc.value("types").toArray()) {
        EXPECT_TRUE(t.toObject().value("customData").isArray());
        for (const QJsonValue& f : t.toObject().value("functions").toArray()) {
            EXPECT_TRUE(f.toObject().value("customData").isArray());
            for (const QJsonValue& p : f.toObject().value("params").toArray())
                EXPECT_TRUE(p.toObject().value("customData").isArray());
        }
        for (const QJsonValue& v : t.toObject().value("variables").toArray())
            EXPECT_TRUE(v.toObject().value("customData").isArray());
    }
}

// The imported library, found beside the importer or not at all.
TEST(Json, ImportsWithTheFileTheyWereFoundAt) {
    JsonRun found = RunJson(Fixture("QuibrelTest.tlb"));
    JsonRun lonely = RunJson(Fixture("lonely/QuibrelTest.tlb"));
    ASSERT_TRUE(found.parseError.isEmpty() && lonely.parseError.isEmpty());
    QJsonArray imports = found.doc.value("library").toObject().value("imports").toArray();
    QJsonArray lonelyImports = lonely.doc.value("library").toObject().value("imports").toArray();
    EXPECT_TRUE(found.doc.value("library").toObject().value("imports").isArray());
    EXPECT_EQ(imports.size(), lonelyImports.size());
    ASSERT_FALSE(imports.isEmpty());
    QJsonObject shared = imports[0].toObject();
    EXPECT_EQ(shared.value("guid"), kSharedGuid);
    EXPECT_EQ(shared.value("version"), Obj(R"({"major":1,"minor":2})"));
    EXPECT_TRUE(shared.value("recordedName").toString().endsWith("QuibrelShared.tlb"));
    EXPECT_EQ(QFileInfo(shared.value("path").toString()).canonicalFilePath(),
              QFileInfo(QString::fromStdString(Fixture("QuibrelShared.tlb"))).canonicalFilePath());
    EXPECT_TRUE(lonelyImports[0].toObject().value("path").isNull());
    EXPECT_EQ(lonelyImports[0].toObject().value("guid"), kSharedGuid);
}

TEST(Json, CommandLine) {
    JsonRun compact = RunJson(Fixture("QuibrelEvents.tlb"));
    JsonRun pretty = RunJson(Fixture("QuibrelEvents.tlb"), true);
    ASSERT_EQ(pretty.status, 0);
    EXPECT_EQ(pretty.doc, compact.doc);
    EXPECT_EQ(compact.out.count('\n'), 1);
    EXPECT_GT(pretty.out.count('\n'), 100);

    JsonRun missing = RunJson(Fixture("no-such-library.tlb"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.doc.value("error").toString().startsWith("0x"));
    EXPECT_EQ(RunTool("json", "").status, 2);
    EXPECT_EQ(RunTool("json", Fixture("QuibrelEvents.tlb"), "--bogus").status, 2);
    EXPECT_EQ(RunTool("json", Fixture("QuibrelEvents.tlb"), Fixture("QuibrelTest.tlb")).status, 2);
}

int ErrorObjects(const QJsonValue& v) {
    int n = 0;
    if (v.isObject()) {
        QJsonObject o = v.toObject();
        n += o.contains("error");
        for (const QJsonValue& c : o) n += ErrorObjects(c);
    } else if (v.isArray()) {
        for (const QJsonValue& c : v.toArray()) n += ErrorObjects(c);
    }
    return n;
}

// Damaged libraries give complete documents with the damaged items as errors in place.
TEST(Json, DamagedLibrariesGiveErrorsInPlace) {
    std::ifstream in(Fixture("QuibrelTest.tlb"), std::ios::binary);
    damage::Bytes good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(good.empty());
    std::vector<damage::Case> cases;
    std::mt19937 rng(16);
    damage::MsftTypeDescCases(good, cases);
    damage::MsftRecordCases(good, rng, 60, cases);
    damage::FlipCases(good, rng, 30, "QuibrelTest.tlb", cases);
    QTemporaryDir dir;
    int loaded = 0, withErrors = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        std::string path = dir.filePath(QStringLiteral("case%1.tlb").arg(i)).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(cases[i].bytes.data()), std::streamsize(cases[i].bytes.size()));
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadTypeLib(Utf8ToUtf16(path).c_str(), lib.Put()))) continue;
        ++loaded;
        QByteArray text = LibraryJsonText(lib.Get(), false);
        QJsonParseError err;
        QJsonDocument doc = QJsonDocument::fromJson(text, &err);
        ASSERT_EQ(err.error, QJsonParseError::NoError) << err.errorString().toStdString();
        KeepForSchemaCheck(text);
        withErrors += ErrorObjects(doc.object()) > 0;
    }
    EXPECT_GT(loaded, 20);
    EXPECT_GT(withErrors, 5);

    fs::path hostile = fs::path(QUIBREL_SOURCE_DIR) / "../shared/hostile";
    if (!fs::is_directory(hostile)) {
        std::printf("no damaged samples at %s; skipped\n", hostile.string().c_str());
        return;
    }
    for (const auto& e : fs::directory_iterator(hostile)) {
        std::string ext = e.path().extension().string();
        if (ext == ".md" || ext == ".py" || ext == ".stderr" || ext == ".reg" || ext == ".sh") continue;
        SCOPED_TRACE(e.path().string());
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadTypeLib(Utf8ToUtf16(e.path().string()).c_str(), lib.Put()))) continue;
        QByteArray text = LibraryJsonText(lib.Get(), false);
        // Syntax only (without building a tree): a library whose entries all repeat one huge
        // type gives a large document, cut short by the member budget.
        rapidjson::StringStream in(text.constData());
        rapidjson::BaseReaderHandler<> ignore;
        rapidjson::Reader reader;
        EXPECT_FALSE(reader.Parse(in, ignore).IsError()) << "offset " << reader.GetErrorOffset();
        if (text.size() < (4 << 20)) {
            KeepForSchemaCheck(text);
        } else if (e.path().filename().string().rfind("amp-", 0) == 0) {
            EXPECT_GT(text.count("\"error\":\"0x800288C5\""), 1000);
        }
    }
}

}  // namespace
