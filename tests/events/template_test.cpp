#include "writers/events.h"

#include "fake_typeinfo.h"
#include "qt_print.h"
#include "worked_example.h"

#include <gtest/gtest.h>

namespace {

using P = FakeTypeInfo::Param;
TYPEDESC Vt(VARTYPE vt) { return FakeTypeInfo::Vt(vt); }




// The class without handlers: the worked example less its two events.
QStringList ClassWithoutHandlers(const QString& className) {
    QStringList lines = SplitLines(kPanelHandler).mid(0, 65 - 19);
    lines.removeAt(6);
    lines.removeAt(5);
    lines[0] = "DEF CLASS \"" + className + "\"";
    return lines;
}

ComPtr<FakeTypeInfo> PanelEvents() {
    auto ti = FakeTypeInfo::Create();
    ti->AddFunc("Click", {}, "Occurs when the panel is clicked");
    ti->AddFunc("KeyDown", {P{"KeyCode", Vt(VT_I2)}, P{"Source", Vt(VT_DISPATCH)}, P{"Caption", Vt(VT_BSTR)},
                            P{std::nullopt, Vt(VT_R8)}});
    return ti;
}

QStringList FunctionLines(const QStringList& lines) {
    QStringList out;
    for (const QString& l : lines)
        if (l.startsWith("   FUNCTION ")) out << l;
    return out;
}

void ExpectAllReleased(const FakeTypeInfo& ti, ULONG references = 1) {
    EXPECT_EQ(ti.outstandingAttrs, 0);
    EXPECT_EQ(ti.outstandingFuncDescs, 0);
    EXPECT_EQ(ti.refCount(), references);
}

}  // namespace

TEST(EventTemplateTest, WorkedExampleComesOutExactly) {
    auto ti = PanelEvents();
    TEventTemplate t("PanelHandler", {"Click", "KeyDown"}, ti.Get(), false);
    EXPECT_EQ(t.Lines(), SplitLines(kPanelHandler));
    ExpectAllReleased(*ti.Get());
}

TEST(EventTemplateTest, LineNumbersPrefixEveryLineInStepsOfTen) {
    auto ti = PanelEvents();
    const QStringList plain = TEventTemplate("PanelHandler", {"Click", "KeyDown"}, ti.Get(), false).Lines();
    const QStringList numbered = TEventTemplate("PanelHandler", {"Click", "KeyDown"}, ti.Get(), true).Lines();
    ASSERT_EQ(numbered.size(), 65);
    EXPECT_EQ(numbered[0], "0010 DEF CLASS \"PanelHandler\"");
    EXPECT_EQ(numbered[1], "0020    PROPERTY EventCaller GET GetEventCaller SET Err");
    EXPECT_EQ(numbered[64], "0650 RETURN");
    for (int i = 0; i < 65; ++i) EXPECT_EQ(numbered[i].mid(5), plain[i]) << i;
}

TEST(EventTemplateTest, NumbersGrowPastFourDigits) {
    auto ti = FakeTypeInfo::Create();
    QStringList chosen;
    for (int i = 0; i < 130; ++i) {  // 8 lines each, over 1000 lines in all
        ti->AddFunc("E" + std::to_string(i));
        chosen << QString("E%1").arg(i);
    }
    const QStringList lines = TEventTemplate("C", chosen, ti.Get(), true).Lines();
    ASSERT_GT(lines.size(), 1000);
    EXPECT_TRUE(lines[98].startsWith("0990 "));
    EXPECT_TRUE(lines[99].startsWith("1000 "));
    EXPECT_TRUE(lines[998].startsWith("9990 "));
    EXPECT_TRUE(lines[999].startsWith("10000 "));
}

TEST(EventTemplateTest, OnlyChosenPlainMethodsInTableOrderBecomeHandlers) {
    auto ti = FakeTypeInfo::Create();
    ti->AddFunc("Click");
    ti->AddFunc("Invoke", {P{"x", Vt(VT_I4)}});
    ti->AddFunc("Value", {}, "", INVOKE_PROPERTYGET);
    ti->AddFunc("Value", {P{"v", Vt(VT_I4)}}, "", INVOKE_PROPERTYPUT);
    ti->AddFunc("NotChosen");
    ti->AddFunc("DblClick");
    // Names in another order and letter case, a skipped name, an accessor, an unknown name.
    TEventTemplate t("Handler", {"dblclick", "CLICK", "invoke", "Value", "Missing"}, ti.Get(), false);
    EXPECT_EQ(FunctionLines(t.Lines()),
              QStringList({"   FUNCTION Event_Click() Event_Click FOR EVENT \"Click\"",
                           "   FUNCTION Event_DblClick() Event_DblClick FOR EVENT \"DblClick\""}));
    EXPECT_TRUE(t.Lines().contains("Event_DblClick:"));
    EXPECT_FALSE(t.Lines().contains("Event_Invoke:"));
    ExpectAllReleased(*ti.Get());
}

TEST(EventTemplateTest, NoChosenEventOrNoUsableInterfaceGivesTheBareClass) {
    auto ti = PanelEvents();
    EXPECT_EQ(TEventTemplate("Bare", {}, ti.Get(), false).Lines(), ClassWithoutHandlers("Bare"));
    EXPECT_EQ(TEventTemplate("Bare", {"Click"}, nullptr, false).Lines(), ClassWithoutHandlers("Bare"));
    ti->failAttr = true;
    EXPECT_EQ(TEventTemplate("Bare", {"Click", "KeyDown"}, ti.Get(), false).Lines(), ClassWithoutHandlers("Bare"));
    ExpectAllReleased(*ti.Get());
}

TEST(EventTemplateTest, ClassNameIsWrittenUnchanged) {
    const QStringList lines = TEventTemplate("My Panel %1 Handler.old", {}, nullptr, false).Lines();
    EXPECT_EQ(lines[0], "DEF CLASS \"My Panel %1 Handler.old\"");
}

TEST(EventTemplateTest, ObjectParametersAreCreatedBeforeAndDeletedAfterTheCode) {
    auto ti = FakeTypeInfo::Create();
    auto window = FakeTypeInfo::Create(TKIND_DISPATCH);
    ti->AddFunc("Drop", {P{"Data", ti->Ptr(ti->UserDefined(7, window))}, P{"Count", Vt(VT_I4)},
                         P{"Target", Vt(VT_UNKNOWN)}, P{"Effect", ti->Ptr(ti->Ptr(Vt(VT_I4)))},
                         P{"Name", ti->Ptr(Vt(VT_BSTR))}});
    const QStringList lines = TEventTemplate("H", {"Drop"}, ti.Get(), false).Lines();
    EXPECT_EQ(FunctionLines(lines),
              QStringList({"   FUNCTION Event_Drop(obj_Data, int_Count, obj_Target, int_Effect, str_Name$) "
                           "Event_Drop FOR EVENT \"Drop\""}));
    EXPECT_EQ(lines.mid(lines.size() - 10),
              QStringList({"Event_Drop:", "ENTER obj_Data, int_Count, obj_Target, int_Effect, str_Name$",
                           "IF (obj_Data <> 0) THEN DEF OBJECT obj_Data",
                           "IF (obj_Target <> 0) THEN DEF OBJECT obj_Target", "!", "!   < Insert code here >", "!",
                           "IF (obj_Data <> 0) THEN DELETE OBJECT obj_Data",
                           "IF (obj_Target <> 0) THEN DELETE OBJECT obj_Target", "RETURN"}));
    ExpectAllReleased(*ti.Get());
    ExpectAllReleased(*window.Get(), 2);  // the test's reference and the interface's
}

TEST(EventTemplateTest, TypeTags) {
    auto holder = FakeTypeInfo::Create();
    FakeTypeInfo& h = *holder.Get();
    auto kind = [&](TYPEKIND k) { return FakeTypeInfo::Create(k); };
    auto brokenAttr = FakeTypeInfo::Create(TKIND_RECORD);
    brokenAttr->failAttr = true;
    const struct {
        TYPEDESC type;
        const char* tag;
    } cases[] = {
        {Vt(VT_I2), "int"}, {Vt(VT_BOOL), "int"}, {Vt(VT_HRESULT), "int"}, {Vt(VT_EMPTY), "int"},
        {Vt(15), "int"}, {Vt(VT_RECORD), "int"}, {Vt(VT_BYREF | VT_BSTR), "int"},
        {Vt(VT_R4), "dbl"}, {Vt(VT_CY), "dbl"}, {Vt(VT_DATE), "dbl"}, {Vt(VT_DECIMAL), "dbl"},
        {Vt(VT_BSTR), "str"}, {Vt(VT_LPSTR), "str"}, {Vt(VT_LPWSTR), "str"},
        {Vt(VT_DISPATCH), "obj"}, {Vt(VT_UNKNOWN), "obj"}, {Vt(VT_VARIANT), "var"},
        // one level of pointer or array is looked through, no more
        {h.Ptr(Vt(VT_VARIANT)), "var"}, {h.Ptr(Vt(VT_DISPATCH)), "obj"}, {h.Ptr(h.Ptr(Vt(VT_DISPATCH))), "int"},
        {h.Ptr(h.SafeArray(Vt(VT_I4))), "obj"}, {h.SafeArray(Vt(VT_BSTR)), "str"},
        {h.CArray(Vt(VT_R8)), "dbl"}, {h.Ptr(h.CArray(Vt(VT_R8))), "int"},
        // user-defined types by their kind; an alias is not followed
        {h.UserDefined(1, kind(TKIND_ENUM)), "int"}, {h.UserDefined(2, kind(TKIND_ALIAS)), "int"},
        {h.UserDefined(3, kind(TKIND_RECORD)), "obj"}, {h.UserDefined(4, kind(TKIND_MODULE)), "obj"},
        {h.UserDefined(5, kind(TKIND_INTERFACE)), "obj"}, {h.UserDefined(6, kind(TKIND_COCLASS)), "obj"},
        {h.UserDefined(7, kind(TKIND_UNION)), "obj"}, {h.UserDefined(8, kind(TKIND_MAX)), "unk"},
        {h.Ptr(h.UserDefined(1)), "int"}, {h.CArray(h.UserDefined(3)), "obj"}, {h.SafeArray(h.UserDefined(6)), "obj"},
        {h.UserDefined(99), "unk"}, {h.UserDefined(9, brokenAttr), "int"},
    };
    for (const auto& c : cases) EXPECT_EQ(EventParamTypeTag(holder.Get(), c.type), c.tag) << "vt " << c.type.vt;
    ExpectAllReleased(*holder.Get());
    ExpectAllReleased(*brokenAttr.Get(), 2);
}

TEST(EventTemplateTest, FailuresLeaveOutOnlyWhatCannotBeRead) {
    auto ti = FakeTypeInfo::Create();
    ti->AddFunc("NoDesc").failDesc = true;
    ti->AddFunc("NoDoc").failDoc = true;
    ti->AddFunc("NoNames", {P{"a", Vt(VT_I4)}, P{"b", Vt(VT_BSTR)}}).failNames = true;
    ti->AddFunc("Fine", {P{"a", Vt(VT_I4)}, P{std::nullopt, Vt(VT_I4)}, P{"c", Vt(VT_I4)}});
    const QStringList lines = TEventTemplate("H", {"NoDesc", "NoDoc", "NoNames", "Fine"}, ti.Get(), false).Lines();
    EXPECT_EQ(FunctionLines(lines),
              QStringList({"   FUNCTION Event_NoNames(int_Param1, str_Param2$) Event_NoNames FOR EVENT \"NoNames\"",
                           "   FUNCTION Event_Fine(int_a, int_Param2, int_Param3) Event_Fine FOR EVENT \"Fine\""}));
    ExpectAllReleased(*ti.Get());
}

TEST(EventTemplateTest, ParametersPastTheFetchedNamesAreNumbered) {
    auto ti = FakeTypeInfo::Create();
    std::vector<P> params;
    for (int k = 1; k <= 70; ++k) params.push_back(P{"p" + std::to_string(k), Vt(VT_I4)});
    ti->AddFunc("Many", params);
    const QStringList lines = TEventTemplate("H", {"Many"}, ti.Get(), false).Lines();
    EXPECT_LE(ti->lastMaxNames, 64u);
    QStringList expected;
    for (int k = 1; k <= 70; ++k) expected << (k <= 63 ? QString("int_p%1").arg(k) : QString("int_Param%1").arg(k));
    EXPECT_TRUE(lines.contains("ENTER " + expected.join(", ")));
    ExpectAllReleased(*ti.Get());
}

TEST(EventTemplateTest, DocumentationStaysOnItsCommentLine) {
    auto ti = FakeTypeInfo::Create();
    ti->AddFunc("Ping", {}, "First\r\nSecond\nThird\rFourth");
    const QStringList lines = TEventTemplate("H", {"Ping"}, ti.Get(), false).Lines();
    EXPECT_TRUE(lines.contains("! EVENT Ping - First Second Third Fourth"));
    EXPECT_EQ(lines.size(), 44 + 1 + 8);
}

TEST(EventTemplateTest, LibraryNamesAndTextNeverBecomeCode) {
    // An event name that would close the declaration and add a statement, a parameter name with
    // a line break, documentation with terminal controls.
    auto ti = FakeTypeInfo::Create();
    ti->AddFunc("Go\") X\nSTOP", {P{"a,\nb", Vt(VT_I4)}}, "doc \x1b]0;title\x07 end");
    const QStringList lines = TEventTemplate("H", {"Go\") X\nSTOP"}, ti.Get(), false).Lines();
    EXPECT_TRUE(lines.contains("   FUNCTION Event_Go_x22_x29_x20X_x0ASTOP(int_a_x2C_x0Ab) Event_Go_x22_x29_x20X_x0ASTOP"
                               " FOR EVENT \"Go\\\") X\\012STOP\""))
        << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.contains("! EVENT Go\") X\\nSTOP - doc \\x1B]0;title\\x07 end"));
    EXPECT_TRUE(lines.contains("Event_Go_x22_x29_x20X_x0ASTOP:"));
    for (const QString& line : lines)
        for (QChar c : line) EXPECT_GE(c.unicode(), 0x20) << line.toStdString();
    ExpectAllReleased(*ti.Get());
}
