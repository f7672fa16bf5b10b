// Reading libraries into the index and the queries over it: known answers over the fixtures,
// the documentation pane's notation, the real-world libraries when they are beside the project,
// and the find command.
#include "indexenv.h"

#include <QFileInfo>
#include <map>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WindowEnvironment("index_tests"));

class IndexTest : public ::testing::Test {
protected:
    LibraryFolder folder{"QuibrelShared.tlb", "QuibrelTest.tlb", "QuibrelPair.dll"};
    std::shared_ptr<TLibraryIndex> Build() { return BuildLibraryIndex(FolderSources(folder.Path()), QString()); }
};

TEST(IndexNames, FolderScanReadsLibraryAndImageNamesAndResourceCopies) {
    for (const char* yes : {"a.tlb", "A.TLB", "x.olb", "x.dll", "x.OCX", "x.exe", "FM20.DLL.2", "x.tlb.13"})
        EXPECT_TRUE(IsIndexedFileName(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"readme.txt", ".tlb", "x.dll.bak", "x.2", "tlb", "x.dll.2x"})
        EXPECT_FALSE(IsIndexedFileName(QString::fromLatin1(no))) << no;
}

TEST_F(IndexTest, EveryResourceOfAnImageIsALibraryOfItsOwn) {
    auto index = Build();
    ASSERT_EQ(index->Files.size(), 3u);
    EXPECT_TRUE(index->Failures().empty());
    EXPECT_EQ(index->LibraryCount(), 4);
    const TIndexFile& pair = *index->Files[0];
    ASSERT_TRUE(pair.HostPath.endsWith("QuibrelPair.dll"));
    ASSERT_EQ(pair.Libraries.size(), 2u);
    EXPECT_EQ(pair.Libraries[0].Name, "QuibrelEvents");
    EXPECT_EQ(pair.Libraries[1].Name, "QuibrelShared");
    EXPECT_TRUE(pair.Libraries[1].Path.endsWith("QuibrelPair.dll\\2"));
    const TIndexLibrary& test = index->Files[2]->Libraries.at(0);
    EXPECT_EQ(test.Name, "QuibrelTest");
    EXPECT_EQ(test.Description, QString::fromUtf8("Quibrel test library: \"every\" construct, Größe"));
    EXPECT_EQ(test.Major, 2);
    EXPECT_EQ(test.Minor, 5);
}

TEST_F(IndexTest, NamesFragmentsAndWildcardsIgnoreCase) {
    auto index = Build();
    EXPECT_EQ(Answers(*index, "isharedthing"),
              (QStringList{"QuibrelPair.dll\\2 ISharedThing", "QuibrelShared.tlb ISharedThing"}));
    // A fragment matches anywhere; a pattern with wildcards matches whole names.
    EXPECT_EQ(Answers(*index, "hapes2"), (QStringList{"QuibrelTest.tlb IShapes2"}));
    EXPECT_EQ(Answers(*index, "?shapes*"), (QStringList{"QuibrelTest.tlb IShapes", "QuibrelTest.tlb IShapes2"}));
    EXPECT_EQ(Answers(*index, "bl*d"), (QStringList{"QuibrelTest.tlb IShapes.Blend", "QuibrelTest.tlb IShapes2.Blend"}));
    EXPECT_EQ(Answers(*index, "Q*th"), QStringList());
    // Methods of IUnknown and IDispatch are not members anyone looks for.
    EXPECT_EQ(Answers(*index, "GetIDsOfNames"), QStringList());
    EXPECT_EQ(Answers(*index, "scRed"), (QStringList{"QuibrelPair.dll\\2 SharedColour.scRed",
                                                     "QuibrelShared.tlb SharedColour.scRed"}));
}

TEST_F(IndexTest, GuidsOfLibrariesInterfacesAndClassesWithOrWithoutBraces) {
    auto index = Build();
    EXPECT_EQ(Answers(*index, "7a0c5e00-1f2b-4c3d-8e9f-000000100004"),
              (QStringList{"QuibrelPair.dll\\2 SharedThing", "QuibrelShared.tlb SharedThing"}));
    EXPECT_EQ(Answers(*index, "{7A0C5E00-1F2B-4C3D-8E9F-00000020000C}"), (QStringList{"QuibrelTest.tlb IShapes"}));
    EXPECT_EQ(Answers(*index, "{7A0C5E00-1F2B-4C3D-8E9F-000000200000}"), (QStringList{"QuibrelTest.tlb "}));

    GUID clsid;
    ASSERT_TRUE(GuidFromString("{7A0C5E00-1F2B-4C3D-8E9F-000000200012}", &clsid));
    EXPECT_EQ(index->LibraryDeclaringClsid(clsid), folder.File("QuibrelTest.tlb"));
    ASSERT_TRUE(GuidFromString("{7A0C5E00-1F2B-4C3D-8E9F-00000020000C}", &clsid));  // an interface
    EXPECT_EQ(index->LibraryDeclaringClsid(clsid), QString());
}

TEST_F(IndexTest, ImplementsFollowsInheritanceAcrossImportedLibraries) {
    auto index = Build();
    // IDerivedThing inherits ISharedThing from the imported library; ThingHolder implements it.
    EXPECT_EQ(Answers(*index, "implements:ISharedThing"),
              (QStringList{"QuibrelPair.dll\\2 SharedThing", "QuibrelShared.tlb SharedThing",
                           "QuibrelTest.tlb IDerivedThing", "QuibrelTest.tlb ThingHolder"}));
    EXPECT_EQ(Answers(*index, "implements:ishapes"), (QStringList{"QuibrelTest.tlb Canvas", "QuibrelTest.tlb IShapes2"}));
    // A plain interface chain; Panel implements IBase directly.
    EXPECT_EQ(Answers(*index, "implements:IBase"),
              (QStringList{"QuibrelTest.tlb Canvas", "QuibrelTest.tlb IDerived", "QuibrelTest.tlb Panel"}));
    // Outgoing interfaces are not implemented.
    EXPECT_EQ(Answers(*index, "implements:DCanvasEvents"), QStringList());
}

TEST_F(IndexTest, ReturnsAndTakesNameTheTypesBelowPointersAndArrays) {
    auto index = Build();
    EXPECT_EQ(Answers(*index, "returns:Tint"), (QStringList{"QuibrelTest.tlb IShapes.Blend", "QuibrelTest.tlb IShapes2.Blend"}));
    // Tint is an alias of SharedColour: what returns a Tint returns a SharedColour.
    EXPECT_TRUE(Answers(*index, "returns:SharedColour").contains("QuibrelTest.tlb IShapes.Blend"));
    QStringList takes = Answers(*index, "takes:SharedPoint");
    EXPECT_TRUE(takes.contains("QuibrelShared.tlb ISharedThing.Paint")) << takes.join(", ").toStdString();
    EXPECT_TRUE(takes.contains("QuibrelTest.tlb IShapes.Place"));
    EXPECT_TRUE(takes.contains("QuibrelTest.tlb IDerivedThing.Stretch"));
    EXPECT_FALSE(takes.contains("QuibrelTest.tlb IShapes.Blend"));
    // A record's fields return their type; a property assigned a value takes it too.
    EXPECT_TRUE(Answers(*index, "returns:Long").contains("QuibrelShared.tlb SharedPoint.X"));
    EXPECT_TRUE(Answers(*index, "takes:String").contains("QuibrelTest.tlb IShapes.Title"));
    EXPECT_TRUE(Answers(*index, "returns:String").contains("QuibrelTest.tlb IShapes.Title"));
}

TEST(IndexQueryText, PrefixesAndMistakes) {
    TIndexQuery q;
    QString error;
    ASSERT_TRUE(TIndexQuery::Parse("  Returns: IXMLDOMNode ", &q));
    EXPECT_EQ(q.QueryKind, TIndexQuery::Returns);
    EXPECT_EQ(q.Pattern, "IXMLDOMNode");
    EXPECT_FALSE(TIndexQuery::Parse("takes:", &q, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(TIndexQuery::Parse("   ", &q));
    // No name has a colon, braces or hyphens: a misspelt prefix and a GUID one digit short are
    // mistakes to report, not names that nothing matches.
    for (const char* wrong : {"return:Node", "{0002DF01-0000-0000-C000-00000000004}", "0002DF01-0000-0000-C000"}) {
        error.clear();
        EXPECT_FALSE(TIndexQuery::Parse(wrong, &q, &error)) << wrong;
        EXPECT_FALSE(error.isEmpty()) << wrong;
    }
    EXPECT_TRUE(error.contains("not a GUID"));
}

// What a member returns includes what comes back through [retval] of a plain interface; a
// type with "*"s matches that pointer depth only; a type the pane's notation cannot state is
// shown in IDL form.
TEST(IndexTypes, RetvalResultsPointerDepthsAndIdlForm) {
    LibraryFolder folder{"QuibrelPointers.tlb"};
    auto index = BuildLibraryIndex(FolderSources(folder.Path()), QString());
    const QString finder = "QuibrelPointers.tlb IElementFinder.";
    EXPECT_EQ(Answers(*index, "returns:IElementFinder"), QStringList{finder + "ElementFromHandle"});
    EXPECT_EQ(Answers(*index, "returns:IElementFinder*"), QStringList{finder + "ElementFromHandle"});
    EXPECT_EQ(Answers(*index, "returns:IElementFinder**"), QStringList());
    EXPECT_TRUE(Answers(*index, "returns:Long").contains(finder + "Filter"));  // through [retval]
    EXPECT_EQ(Answers(*index, "takes:Variant"), (QStringList{finder + "Filter", finder + "Update"}));
    EXPECT_EQ(Answers(*index, "takes:Variant*"), QStringList{finder + "Update"});
    EXPECT_EQ(Answers(*index, "takes:VARIANT"), Answers(*index, "takes:Variant"));
    EXPECT_EQ(Answers(*index, "takes:String*"), QStringList{finder + "Name"});

    const TIndexType& type = index->Files.at(0)->Libraries.at(0).Types.at(0);
    std::map<QString, QString> signatures;
    for (const TIndexMember& m : type.Members) signatures[m.Name] = m.Signature;
    EXPECT_EQ(signatures["ElementFromHandle"],
              "HRESULT ElementFromHandle([in] void* hwnd, [out, retval] IElementFinder** element)");
    // What the notation can say stays in it.
    EXPECT_EQ(signatures["Name"], "Function Name(out text As String) As Long");
}

// The signatures are the documentation pane's first line, as the describe output records it.
TEST_F(IndexTest, SignaturesAreTheDocumentationPanesNotation) {
    QFile file(QStringLiteral(QUIBREL_SOURCE_DIR "/tests/app/QuibrelTest.describe"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QTextStream in(&file);
    std::map<QString, QString> expected;  // "Class.Member" -> first doc line
    QString cls, member;
    bool wantDoc = false;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        static const QRegularExpression classLine("^class (\\S+) icon (\\d)"), memberLine("^  member (\\S+) icon (\\d)");
        if (auto m = classLine.match(line); m.hasMatch()) {
            cls = m.captured(1);
            wantDoc = false;
        } else if (auto mm = memberLine.match(line); mm.hasMatch()) {
            member = mm.captured(1);
            wantDoc = mm.captured(2).toInt() >= 5;  // members, not a coclass's interfaces
        } else if (wantDoc && line.startsWith("    doc ")) {
            expected[cls + "." + member] = line.mid(8);
            wantDoc = false;
        }
    }
    ASSERT_GT(expected.size(), 20u);

    auto index = Build();
    const TIndexLibrary& test = index->Files[2]->Libraries.at(0);
    int compared = 0;
    for (const TIndexType& t : test.Types)
        for (const TIndexMember& m : t.Members) {
            auto it = expected.find(t.Name + "." + m.Name);
            if (it == expected.end()) continue;
            EXPECT_EQ(m.Signature, it->second) << (t.Name + "." + m.Name).toStdString();
            ++compared;
        }
    EXPECT_EQ(size_t(compared), expected.size());
}

TEST(IndexFailures, DamagedLibrariesAreListedAndTheRestIsFound) {
    LibraryFolder folder{"QuibrelShared.tlb"};
    QFile test(Fixture("QuibrelTest.tlb"));
    ASSERT_TRUE(test.open(QIODevice::ReadOnly));
    const QByteArray bytes = test.readAll();
    folder.Write("Truncated.tlb", bytes.left(300));
    folder.Write("Garbage.dll", QByteArray(4096, 'x'));
    folder.Write("Empty.ocx", QByteArray());
    folder.Write("notes.txt", "not looked at");

    folder.Add("NoTypeLib.dll", "NoTypeLib.dll");
    // A file name that is not UTF-8 reaches its file.
    const QString bad = folder.AddBytes("QuibrelShared.tlb", "bad\xFF.tlb");

    auto index = BuildLibraryIndex(FolderSources(folder.Path()), QString());
    const std::vector<TIndexFailure> failures = index->Failures();
    // The damaged library is a failure; files that simply hold no library are counted apart.
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].Path, folder.File("Truncated.tlb"));
    EXPECT_TRUE(FAILED(failures[0].Status));
    EXPECT_EQ(index->FilesWithoutLibrary(), 3);
    EXPECT_EQ(Answers(*index, "SharedThing"),
              (QStringList{"QuibrelShared.tlb ISharedThing", "QuibrelShared.tlb SharedThing", bad + " ISharedThing",
                           bad + " SharedThing"}));
}

// The real-world libraries: answers checked by hand against their dumps.
class RealWorld : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QFileInfo(RealLibraries()).isDir()) return;
        index_ = BuildLibraryIndex(FolderSources(RealLibraries()), QString());
    }
    static void TearDownTestSuite() { index_.reset(); }
    void SetUp() override {
        if (!index_) GTEST_SKIP() << "../shared/typelibs is not beside the project";
    }
    static inline std::shared_ptr<TLibraryIndex> index_;
};

TEST_F(RealWorld, AllAreReadWithoutFailures) {
    EXPECT_EQ(index_->Files.size(), 281u);
    for (const TIndexFailure& f : index_->Failures()) ADD_FAILURE() << f.Path.toStdString();
}

TEST_F(RealWorld, WhichLibrariesDefineIFontDisp) {
    QStringList defining;
    for (const QString& a : Answers(*index_, "IFontDisp"))
        if (!a.section(' ', 1).contains('.')) defining << a;  // the type itself, not members
    // An alias of the dispatch interface Font in both; the older stdole32.tlb has no such name.
    EXPECT_EQ(defining, (QStringList{"olepro32.dll IFontDisp", "stdole2.tlb IFontDisp"}));
}

TEST_F(RealWorld, WhatReturnsIXMLDOMNodeInTheMsxmlLibraries) {
    QStringList msxml;
    for (const QString& a : Answers(*index_, "returns:IXMLDOMNode"))
        if (a.startsWith("msxml", Qt::CaseInsensitive)) msxml << a;
    for (const char* e : {"msxml6.dll IXMLDOMNode.appendChild", "msxml6.dll IXMLDOMNode.firstChild",
                          "msxml6.dll IXMLDOMNodeList.nextNode", "msxml6.dll IXMLDOMNamedNodeMap.getNamedItem"})
        EXPECT_TRUE(msxml.contains(QString::fromLatin1(e))) << e;
    for (const QString& a : msxml) EXPECT_FALSE(a.endsWith(".removeAll")) << a.toStdString();
}

TEST_F(RealWorld, TheGuidOfStdFont) {
    const QStringList answers = Answers(*index_, "{0BE35203-8F91-11CE-9DE3-00AA004BB851}");
    EXPECT_TRUE(answers.contains("stdole2.tlb StdFont")) << answers.join(", ").toStdString();
    for (const QString& a : answers) EXPECT_TRUE(a.endsWith(" StdFont")) << a.toStdString();
}

// The find command over a folder, and over the registered libraries.
TEST(FindCommand, LinesJsonAndRegisteredLibraries) {
    LibraryFolder folder{"QuibrelShared.tlb", "QuibrelTest.tlb"};
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUIBREL_CACHE_DIR", home.path() + "/cache");
    env.insert("QUIBREL_REGISTRY_DIR", home.path() + "/registry");
    env.insert("WINEPREFIX", home.path() + "/prefix");
    auto run = [&](const QStringList& args, int* status = nullptr) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUIBREL_TLB), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        if (status) *status = p.exitCode();
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    int status = -1;
    EXPECT_EQ(run({"find", "returns:Tint", "--dir", folder.Path()}, &status),
              folder.File("QuibrelTest.tlb") + "\tIShapes\tBlend\tFunction Blend(first As<QuibrelShared.SharedColour>, second As<Tint>) As<Tint>\n" +
                  folder.File("QuibrelTest.tlb") + "\tIShapes2\tBlend\tFunction Blend(first As<QuibrelShared.SharedColour>, second As<Tint>) As<Tint>\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(run({"find", "NoSuchName", "--dir", folder.Path()}, &status), "");
    EXPECT_EQ(status, 1);
    run({"find"}, &status);
    EXPECT_EQ(status, 2);
    // Usage errors say what is wrong; a search that finds nothing stays silent.
    auto error = [&](const QStringList& args, int* code) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUIBREL_TLB), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        *code = p.exitCode();
        return QString::fromUtf8(p.readAllStandardError());
    };
    const struct {
        QStringList args;
        const char* says;
    } mistakes[] = {{{"find", "Node", "--dir", folder.Path() + "/nonexistent"}, "no such folder"},
                    {{"find", "Node", "--dir", folder.File("QuibrelTest.tlb")}, "not a folder"},
                    {{"find", "{0002DF01-0000-0000-C000-0000000000}", "--dir", folder.Path()}, "not a GUID"},
                    {{"find", "return:Tint", "--dir", folder.Path()}, "unknown prefix"},
                    {{"find", "NoSuchName", "--dir", folder.Path()}, ""}};
    for (const auto& m : mistakes) {
        const QString said = error(m.args, &status);
        EXPECT_EQ(status, *m.says ? 2 : 1) << m.says;
        if (*m.says) EXPECT_TRUE(said.contains(m.says)) << said.toStdString();
        else EXPECT_EQ(said, "");
    }

    const QString json = run({"find", "SharedThing", "--dir", folder.Path(), "--json"});
    EXPECT_TRUE(json.contains("\"class\": \"SharedThing\"")) << json.toStdString();
    EXPECT_TRUE(json.contains("\"failures\": [")) << json.toStdString();

    // A forged cache entry with an unpaired surrogate in a name: the JSON stays valid Unicode.
    const QString cacheFile = home.path() + "/cache/library-index.bin";
    std::vector<TIndexFilePtr> files;
    ASSERT_TRUE(ReadIndexCache(cacheFile, &files));
    for (TIndexFilePtr& file : files) {
        TIndexFile forged = *file;
        for (TIndexLibrary& lib : forged.Libraries)
            for (TIndexType& type : lib.Types)
                if (type.Name == "SharedThing") type.Name += QChar(0xD800);
        file = std::make_shared<const TIndexFile>(forged);
    }
    ASSERT_TRUE(WriteIndexCache(cacheFile, files));
    const QString forgedJson = run({"find", "{7A0C5E00-1F2B-4C3D-8E9F-000000100004}", "--dir", folder.Path(), "--json"});
    EXPECT_TRUE(forgedJson.contains(QStringLiteral("\"class\": \"SharedThing\uFFFD\""))) << forgedJson.toStdString();
    EXPECT_FALSE(forgedJson.contains("\\ud800", Qt::CaseInsensitive)) << forgedJson.toStdString();

    // A path with a tab or a line break stays on its one line.
    LibraryFolder odd{};
    odd.Add("QuibrelShared.tlb", "odd\tdir/two\nlines.tlb");
    EXPECT_EQ(run({"find", "{7A0C5E00-1F2B-4C3D-8E9F-000000100004}", "--dir", odd.Path()}),
              odd.Path() + "/odd\\tdir/two\\nlines.tlb\tSharedThing\t\tCoClass SharedThing\n");
    // A name that is not UTF-8 comes out as its bytes' escapes, in results and failures alike.
    odd.AddBytes("QuibrelShared.tlb", "bad\xFF.tlb");
    odd.AddBytes(nullptr, "cut\xFE\x1B.tlb", QByteArray("MSFT\x02\x00\x01\x00", 8));
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUIBREL_TLB), {"find", "SharedThing", "--dir", odd.Path()});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(out.contains(odd.Path() + "/bad\\xFF.tlb\tSharedThing\t\tCoClass SharedThing\n")) << out.toStdString();
        EXPECT_TRUE(err.contains("cannot read " + odd.Path() + "/cut\\xFE\\x1B.tlb: ")) << err.toStdString();
        EXPECT_TRUE(err.contains("1 unreadable files")) << err.toStdString();
    }

    // Registered libraries are the default source.
    run({"register", folder.File("QuibrelShared.tlb")});
    EXPECT_EQ(run({"find", "7A0C5E00-1F2B-4C3D-8E9F-000000100004"}),
              folder.File("QuibrelShared.tlb") + "\tSharedThing\t\tCoClass SharedThing\n");
}

}  // namespace

namespace {

// Registered libraries as a source, beside a folder; and the class lookup for ProgIDs.
TEST(RegisteredSource, ListedOnceBesideAFolderAndAnsweringWhichLibraryDeclaresAClass) {
    LibraryFolder folder{"QuibrelShared.tlb", "QuibrelTest.tlb"};
    QTemporaryDir cache;
    qputenv("QUIBREL_CACHE_DIR", cache.path().toUtf8());
    auto tlb = [](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(QUIBREL_TLB), args);  // this process's registry, through the environment
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };
    tlb({"register", folder.File("QuibrelShared.tlb")});

    GUID clsid;
    ASSERT_TRUE(GuidFromString("{7A0C5E00-1F2B-4C3D-8E9F-000000100004}", &clsid));
    EXPECT_EQ(RegisteredLibraryDeclaringClsid(clsid), folder.File("QuibrelShared.tlb"));
    ASSERT_TRUE(GuidFromString("{7A0C5E00-1F2B-4C3D-8E9F-000000200012}", &clsid));  // not registered
    EXPECT_EQ(RegisteredLibraryDeclaringClsid(clsid), QString());

    TIndexSources both = FolderSources(folder.Path());
    both.Registered = true;
    auto index = BuildLibraryIndex(both, QString());
    EXPECT_EQ(index->Files.size(), 2u);
    EXPECT_EQ(Answers(*index, "implements:ISharedThing"),
              (QStringList{"QuibrelShared.tlb SharedThing", "QuibrelTest.tlb IDerivedThing", "QuibrelTest.tlb ThingHolder"}));

    tlb({"unregister", folder.File("QuibrelShared.tlb")});
    qunsetenv("QUIBREL_CACHE_DIR");
}

}  // namespace
