// The generator and the command line against libraries built from our IDL.
#include "writers/events.h"
#include "platform/oleauto/comptr.h"

#include "qt_print.h"
#include "worked_example.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kPanelLib = QStringLiteral(EVENTS_FIXTURE_DIR "/PanelEvents.tlb");
const QString kOrchestraLib = QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelEvents.tlb");

ComPtr<ITypeInfo> TypeNamed(const QString& library, const QString& name) {
    ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(Utf8ToUtf16(library.toStdString()).c_str(), lib.Put());
    EXPECT_EQ(hr, S_OK) << library.toStdString();
    if (FAILED(hr)) return nullptr;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        BStr typeName;
        if (SUCCEEDED(lib->GetTypeInfo(i, ti.Put())) &&
            SUCCEEDED(ti->GetDocumentation(MEMBERID_NIL, typeName.Put(), nullptr, nullptr, nullptr)) &&
            QString::fromStdString(typeName.Utf8()) == name)
            return ti;
    }
    ADD_FAILURE() << "no type " << name.toStdString();
    return nullptr;
}

QString Handler(const QStringList& lines, const QString& event) {
    for (const QString& l : lines)
        if (l.startsWith("   FUNCTION Event_" + event + "(")) return l;
    return {};
}

struct Outcome {
    int exitCode = -1;
    QByteArray out, err;
};

Outcome Tlb(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUIBREL_TLB), QStringList{"template"} + args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList Numbered(const QStringList& lines) {
    QStringList out;
    for (int i = 0; i < lines.size(); ++i) out << QString("%1 ").arg((i + 1) * 10, 4, 10, QChar('0')) + lines[i];
    return out;
}

}  // namespace

TEST(EventLibraryTest, WorkedExampleFromTheLibrary) {
    auto ti = TypeNamed(kPanelLib, "IPanelEvents");
    ASSERT_TRUE(ti);
    EXPECT_EQ(TEventTemplate("PanelHandler", {"Click", "KeyDown"}, ti.Get(), false).Lines(),
              SplitLines(kPanelHandler));
}

TEST(EventLibraryTest, ParametersOfTheLibrarysOwnTypes) {
    auto ti = TypeNamed(kPanelLib, "DPanelMoreEvents");
    ASSERT_TRUE(ti);
    const QStringList lines =
        TEventTemplate("More", {"Count", "Level", "StateChanged", "Invoke"}, ti.Get(), false).Lines();
    EXPECT_EQ(Handler(lines, "StateChanged"),
              "   FUNCTION Event_StateChanged(int_state, int_colour, obj_at, int_handle, str_names$, var_value, "
              "str_text$, obj_first, obj_second) Event_StateChanged FOR EVENT \"StateChanged\"");
    EXPECT_TRUE(lines.contains("! EVENT StateChanged - The state changed"));
    EXPECT_EQ(Handler(lines, "Level"), "");
    EXPECT_EQ(Handler(lines, "Count"), "");
    EXPECT_EQ(Handler(lines, "Invoke"), "");
}

TEST(EventLibraryTest, NamesPastSixtyThreeParametersAreNumbered) {
    auto ti = TypeNamed(kOrchestraLib, "DOrchestraEvents");
    ASSERT_TRUE(ti);
    const QStringList lines = TEventTemplate("O", {"Full63", "Full64", "Crescendo"}, ti.Get(), false).Lines();
    const QString full63 = Handler(lines, "Full63");
    EXPECT_TRUE(full63.contains("(int_f01, int_f02, str_f03$, dbl_f04, obj_f05, var_f06, dbl_f07, int_f08, obj_f09, "
                                "dbl_f10, dbl_f11, int_f12, int_f13, int_f14, ")) << full63.toStdString();
    EXPECT_TRUE(full63.contains(", dbl_f63) Event_Full63")) << full63.toStdString();
    EXPECT_TRUE(Handler(lines, "Full64").contains(", dbl_g63, int_Param64) Event_Full64"));
    const QString crescendo = Handler(lines, "Crescendo");
    EXPECT_TRUE(crescendo.contains(", dbl_p63, int_Param64, obj_Param65, dbl_Param66, dbl_Param67, int_Param68, "
                                   "int_Param69, int_Param70) Event_Crescendo"))
        << crescendo.toStdString();
    // Object parameters past the names still get their DEF OBJECT lines.
    EXPECT_TRUE(lines.contains("IF (obj_Param65 <> 0) THEN DEF OBJECT obj_Param65"));
}

TEST(EventCommandTest, WritesTheBytesTheWindowSaves) {
    const QByteArray plain = ClassFileText(SplitLines(kPanelHandler));
    Outcome r = Tlb({kPanelLib, "IPanelEvents", "--class", "PanelHandler"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, plain);
    EXPECT_EQ(r.err, "");

    QTemporaryDir dir;
    const QString output = dir.filePath("Panel Handler.qbc");
    r = Tlb({"--line-numbers", kPanelLib, "--output", output, "IPanelEvents", "--class", "PanelHandler"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadAll(output), ClassFileText(Numbered(SplitLines(kPanelHandler))));
}

TEST(EventCommandTest, ClassNameAndEventsDefaultToTheInterfaceAndItsListedEvents) {
    Outcome r = Tlb({kPanelLib, "ipanelevents"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList expected = SplitLines(kPanelHandler);
    expected[0] = "DEF CLASS \"ipanelevents\"";
    EXPECT_EQ(r.out, ClassFileText(expected));

    r = Tlb({kPanelLib, "DPanelMoreEvents"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.out).split("\r\n");
    EXPECT_EQ(Handler(lines, "StateChanged").left(40), "   FUNCTION Event_StateChanged(int_state");
    EXPECT_EQ(Handler(lines, "Invoke"), "");

    r = Tlb({kPanelLib, "IPanelEvents", "--events", "keydown,click"});
    EXPECT_TRUE(r.out.contains("FUNCTION Event_KeyDown("));
    EXPECT_TRUE(r.out.contains("FUNCTION Event_Click("));
    // An event the interface does not have is a usage error, not a template without it.
    r = Tlb({kPanelLib, "IPanelEvents", "--events", "keydown,NoSuchEvent"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty());
    r = Tlb({kPanelLib, "IPanelEvents", "--events", ""});
    EXPECT_FALSE(r.out.contains("FUNCTION"));
    EXPECT_TRUE(r.out.endsWith("GetEventsDiscarded:\r\nRETURN TCB(123)\r\n"));
}

TEST(EventCommandTest, Failures) {
    const auto oneLine = [](const Outcome& r) { return r.err.endsWith('\n') && r.err.count('\n') == 1 && r.out.isEmpty(); };
    Outcome r = Tlb({kPanelLib, "DPanel"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(oneLine(r)) << r.err.toStdString();
    r = Tlb({kPanelLib, "PanelState"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(oneLine(r)) << r.err.toStdString();
    r = Tlb({QStringLiteral(QUIBREL_SOURCE_DIR "/no such library.tlb"), "IPanelEvents"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(oneLine(r)) << r.err.toStdString();

    QTemporaryDir dir;
    const QString output = dir.filePath("missing/H.qbc");
    r = Tlb({kPanelLib, "IPanelEvents", "--output", output});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, ("Cannot create file " + output + ": No such file or directory\n").toUtf8());

    for (const QStringList& usage : {QStringList{kPanelLib}, QStringList{kPanelLib, "IPanelEvents", "extra"},
                                     QStringList{kPanelLib, "IPanelEvents", "--class"},
                                     QStringList{kPanelLib, "IPanelEvents", "--colour", "red"}}) {
        r = Tlb(usage);
        EXPECT_EQ(r.exitCode, 2) << usage.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}
