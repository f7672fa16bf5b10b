// Damaged libraries above the reader: kept inputs that once crashed, stalled or exhausted the
// window and the companion, and truncations and random corruptions of real libraries, each
// opened in the main window with every class and member selected and every event template
// built. Run it in the sanitizer build too. Time limits are generous: they catch a stall, not
// a slowdown (the benchmarks measure speed).
#include "browse.h"

#include "../hostile/damage.h"
#include "common/windowenv.h"

#include "app/application.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kSlowdown = 10;
#else
constexpr int kSlowdown = 1;
#endif
#else
constexpr int kSlowdown = 1;
#endif

// One selection (a class with its member list, or a member with its description) and one
// opening: the window must answer within a second; allowed here with a wide margin.
constexpr qint64 kStepLimitMs = 5000 * kSlowdown;

QString Data(const QString& name) { return QStringLiteral(DAMAGED_DATA_DIR "/") + name; }

QStringList DamagedLibraries() {
    return QDir(QStringLiteral(DAMAGED_DATA_DIR)).entryList({"*.tlb", "*.bin", "*.ocx"}, QDir::Files, QDir::Name);
}

struct TlbRun {
    int exit = -1;
    bool crashed = false;
    bool finished = false;
    QByteArray out, err;
    qint64 ms = 0;
};

TlbRun Tlb(const QStringList& args, int timeoutMs) {
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral(QUIBREL_TLB), args);
    TlbRun r;
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.ms = clock.elapsed();
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.exit = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

class DamagedEnvironment : public WindowEnvironment {
public:
    DamagedEnvironment() : WindowEnvironment("damaged_tests") {}
};
[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new DamagedEnvironment);

class Damaged : public MainWindowTest {
protected:
    void SetUp() override {
        // What the window would show in a message box is counted instead (no one closes it).
        ErrorSink() = [this](const QString&) { ++messages_; };
        form_ = std::make_unique<TMainForm>();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        ErrorSink() = nullptr;
    }
    int messages_ = 0;

    // Opens the file in the window; false when it is refused (the box's message, nothing else).
    bool Open(const QString& path, qint64* ms = nullptr) {
        QElapsedTimer clock;
        clock.start();
        bool opened = true;
        try {
            form_->OpenTypeLib(path);
        } catch (const EBrowserError& e) {
            EXPECT_FALSE(ErrorBoxText(e.Message()).isEmpty()) << path.toStdString();
            opened = false;
        }
        if (ms) *ms = clock.elapsed();
        return opened;
    }
};

}  // namespace

// Every kept input opens or is refused, and all it offers can be selected and described, each
// step quickly.
TEST_F(Damaged, KeptInputsOpenAndEveryClassAndMemberCanBeSelected) {
    const QStringList files = DamagedLibraries();
    ASSERT_GE(files.size(), 10);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        qint64 openMs = 0;
        QElapsedTimer clock;
        clock.start();
        if (!Open(Data(name), &openMs)) continue;
        EXPECT_LT(openMs, kStepLimitMs);
        const browse::Tally t = browse::Everything(Form(), 2000 / kSlowdown);
        EXPECT_LT(t.slowestMs, kStepLimitMs) << t.slowest.toStdString();
        std::printf("%-48s open %4lld ms, %5d classes, %6d members selected, %3d templates, slowest step %4lld ms"
                    " (%s), all %6lld ms\n",
                    name.toUtf8().constData(), openMs, t.classes, t.members, t.templates, t.slowestMs,
                    t.slowest.left(40).toUtf8().constData(), clock.elapsed());
        std::fflush(stdout);
    }
}

// A constant of an enumeration whose variable is not a constant (the file says VAR_DISPATCH,
// and for one copy gives an instance offset that looks like an address) has no value; its
// neighbours still have theirs.
TEST_F(Damaged, EnumerationVariableThatIsNoConstantHasNoValue) {
    for (const char* name : {"enum-varkind-dispatch.FirewallAPI.tlb", "enum-varkind-dispatch-addr41414140.FirewallAPI.tlb"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Open(Data(QLatin1String(name))));
        int empty = 0, constants = 0;
        for (int i = 0; i < Form().lvClasses->topLevelItemCount(); ++i) {
            TClassRow* row = Form().ClassRow(i);
            if (row->Icon != eiEnumeration) continue;
            Form().lvClasses->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
            for (int j = 0; j < Form().lvMembers->topLevelItemCount(); ++j) {
                Form().lvMembers->setCurrentItem(Form().MemberRow(j), 0, QItemSelectionModel::ClearAndSelect);
                const QString text = Form().txtDoc->Lines().join(QLatin1Char('\n'));
                if (text.isEmpty()) ++empty;
                else if (text.startsWith(QStringLiteral("Const "))) ++constants;
            }
        }
        EXPECT_EQ(empty, 1);
        EXPECT_GT(constants, 10);
    }
}

// The companion on every kept input: describe, dump, json, idl and the event template of its
// first interface. No crash, no sanitizer report, a clean status, in time (a stall, not a
// slowdown: the whole-process figures are measured apart), and output in proportion to the
// input; the JSON parses.
TEST(DamagedCompanion, DescribeAndDumpEveryKeptInput) {
    const auto sanitizerReport = [](const QByteArray& err) {
        return err.contains("Sanitizer") || err.contains("runtime error:");
    };
    for (const QString& name : DamagedLibraries()) {
        SCOPED_TRACE(name.toStdString());
        const qint64 size = QFileInfo(Data(name)).size();
        QString firstInterface;
        for (const char* command : {"describe", "dump", "json", "idl", "template"}) {
            QStringList args{QLatin1String(command), Data(name)};
            if (std::string(command) == "template") {
                if (firstInterface.isEmpty()) continue;
                args << firstInterface;
            }
            const TlbRun r = Tlb(args, 20000 * kSlowdown);
            ASSERT_TRUE(r.finished) << command << " still running";
            EXPECT_FALSE(r.crashed) << command << ": " << r.err.toStdString();
            EXPECT_FALSE(sanitizerReport(r.err)) << command << ": " << r.err.toStdString();
            EXPECT_TRUE(r.exit == 0 || r.exit == 1) << command << " exit " << r.exit << ": " << r.err.toStdString();
            EXPECT_LT(r.out.size(), std::max<qint64>(size * 64, 16 << 20)) << command;
            if (std::string(command) == "json" && r.exit == 0) {
                QJsonParseError error;
                const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
                EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
                for (const QJsonValue& type : doc.object().value("types").toArray()) {
                    const QString kind = type.toObject().value("kind").toString();
                    if (kind == "TKIND_DISPATCH" || kind == "TKIND_INTERFACE") {
                        firstInterface = type.toObject().value("name").toString();
                        if (!firstInterface.isEmpty()) break;
                    }
                }
            }
            std::printf("%-8s %-48s exit %d, %8lld bytes out, %6lld ms\n", command, name.toUtf8().constData(),
                        r.exit, qint64(r.out.size()), r.ms);
        }
    }
}

// A coclass's implemented types are a chain of 16-byte records: it cannot list more of them
// than its file holds, whatever count it claims or however its chain loops back; and each
// one's custom data is found directly, not by walking the chain again.
TEST(DamagedCompanion, ImplementedTypesAreBoundedByTheirBytes) {
    for (const QString& name : DamagedLibraries()) {
        SCOPED_TRACE(name.toStdString());
        const qint64 size = QFileInfo(Data(name)).size();
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadTypeLib(Data(name).toStdU16String().c_str(), lib.Put())) || !lib) continue;
        qint64 listed = 0;
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> info;
            TYPEATTR* attr = nullptr;
            if (FAILED(lib->GetTypeInfo(i, info.Put())) || FAILED(info->GetTypeAttr(&attr))) continue;
            const WORD count = attr->cImplTypes;
            info->ReleaseTypeAttr(attr);
            EXPECT_LE(qint64(count) * 16, size) << "type " << i;
            ComPtr<ITypeInfo2> info2;
            if (FAILED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(info2.Put())))) continue;
            for (UINT k = 0; k < count; ++k) {
                CUSTDATA cust{};
                if (SUCCEEDED(info2->GetAllImplTypeCustData(k, &cust))) ClearCustData(&cust);
            }
            listed += count;
        }
        std::printf("%-48s %6lld implemented types\n", name.toUtf8().constData(), listed);
    }
}

// Truncations and random corruptions of real libraries, through the window and the event
// templates. The project's own fixtures always; real libraries when they are beside the project.
TEST_F(Damaged, TruncatedAndCorruptedLibrariesThroughTheWindow) {
    std::vector<std::pair<QString, damage::Bytes>> originals;
    auto add = [&](const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return;
        const QByteArray b = f.readAll();
        originals.push_back({QFileInfo(path).fileName(), damage::Bytes(b.begin(), b.end())});
    };
    add(QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelEvents.tlb"));
    add(QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb"));
    const QString real = QStringLiteral(QUIBREL_TYPELIBS_DIR "/files/");
    for (const char* name : {"FirewallAPI.dll", "stdole32.tlb", "sysmon.ocx", "RegCtrl.dll"}) add(real + QLatin1String(name));
    if (originals.size() < 6) std::printf("real libraries not found beside the project; fixtures only\n");
    ASSERT_GE(originals.size(), 2u);

    QTemporaryDir dir;
    std::mt19937 rng(1307);
    int cases = 0, opened = 0;
    browse::Tally all;
    QElapsedTimer clock;
    clock.start();
    for (const auto& [name, good] : originals) {
        std::vector<damage::Case> damaged;
        // Cuts spread over the file, and 1 to 16 random bytes overwritten.
        const std::size_t cuts = 24;
        for (std::size_t k = 1; k <= cuts; ++k) {
            const std::size_t len = good.size() * k / (cuts + 1) + rng() % 64;
            damaged.push_back({name.toStdString() + " cut", damage::Bytes(good.begin(), good.begin() + std::min(len, good.size()))});
        }
        damage::FlipCases(good, rng, 60, name.toStdString(), damaged);
        for (const damage::Case& c : damaged) {
            SCOPED_TRACE(c.what);
            const QString path = dir.filePath(name);
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(reinterpret_cast<const char*>(c.bytes.data()), qint64(c.bytes.size()));
            out.close();
            ++cases;
            qint64 openMs = 0;
            if (!Open(path, &openMs)) continue;
            ++opened;
            EXPECT_LT(openMs, kStepLimitMs);
            const browse::Tally t = browse::Everything(Form(), 400);
            EXPECT_LT(t.slowestMs, kStepLimitMs) << t.slowest.toStdString();
            all.members += t.members;
            all.templates += t.templates;
        }
    }
    std::printf("%d damaged libraries, %d opened, %d members selected, %d templates, %lld ms\n", cases, opened,
                all.members, all.templates, clock.elapsed());
}

// Files that cannot be a library: the window's message stays; every command of the companion
// says why in one line of the same words.
TEST(DamagedCompanion, NotALibraryFileSaysWhy) {
    QTemporaryDir dir;
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    const QString fifo = dir.filePath(QStringLiteral("pipe.tlb"));
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    QFile good(QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray library = good.readAll();
    const QString dll = QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest64.dll");
    const struct {
        QString path;
        const char* why;
    } cases[] = {{dir.path(), "a directory"},
                 {fifo, "a FIFO"},
                 {QStringLiteral("/dev/zero"), "a device"},
                 {dir.filePath(QStringLiteral("missing.tlb")), "no such file"},
                 {write("empty.tlb", QByteArray()), "empty file"},
                 {write("notes.tlb", "just some text\n"), "not a type library"},
                 {QStringLiteral(QUIBREL_FIXTURE_DIR "/NoTypeLib.dll"), "no TYPELIB resource"},
                 {dll + QStringLiteral("\\9"), "no TYPELIB resource 9 (the file has 1)"},
                 {write("cut.tlb", library.left(200)), "damaged library ("}};
    for (const char* command : {"describe", "dump", "json", "idl", "template", "register"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(command) + ": " + c.why);
            QStringList args{QString::fromLatin1(command), c.path};
            if (std::string(command) == "template") args << QStringLiteral("DPanelEvents");
            const TlbRun r = Tlb(args, 60000 * kSlowdown);
            ASSERT_TRUE(r.finished);
            EXPECT_EQ(r.exit, 1);
            EXPECT_TRUE(r.err.contains(("cannot load " + c.path + ": " + c.why).toUtf8())) << r.err.toStdString();
        }
    }
}

// What a script relies on: usage and help for every command, "--" before an operand that looks
// like an option, unknown options named, and output that cannot be written never a success.
TEST(DamagedCompanion, UsageHelpAndFailedWritesAreNotSuccess) {
    const QString lib = QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb");
    for (const char* command : {"describe", "dump", "find", "idl", "json", "registered", "template"}) {
        SCOPED_TRACE(command);
        for (const QStringList& args : {QStringList{"help", command}, QStringList{command, "--help"}}) {
            const TlbRun r = Tlb(args, 60000);
            EXPECT_EQ(r.exit, 0);
            EXPECT_TRUE(r.out.startsWith(QByteArray("usage: quibrel-tlb ") + command)) << r.out.toStdString();
        }
        const TlbRun unknown = Tlb({QString::fromLatin1(command), lib, "--prety"}, 60000);
        EXPECT_EQ(unknown.exit, 2);
        EXPECT_TRUE(unknown.err.contains("unknown option --prety")) << unknown.err.toStdString();
    }
    // "--" ends the options: a file named like one is an operand.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(lib, dir.filePath(QStringLiteral("-odd.tlb"))));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(QUIBREL_TLB), {"dump", "--", "-odd.tlb"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().startsWith("library QuibrelTest\n"));

    // A full disk: exit 1 and a message, for every command that writes.
    for (const QStringList& args : {QStringList{"dump", lib}, QStringList{"describe", lib}, QStringList{"json", lib},
                                    QStringList{"idl", lib}, QStringList{"template", lib, "DPanelEvents"},
                                    QStringList{"--help"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        QProcess full;
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        full.start(QStringLiteral(QUIBREL_TLB), args);
        ASSERT_TRUE(full.waitForFinished(60000 * kSlowdown));
        EXPECT_EQ(full.exitCode(), 1);
        EXPECT_TRUE(full.readAllStandardError().contains("No space left on device"));
    }

    // An event the interface does not have is a usage error naming it, alone or in a list.
    for (const char* events : {"Nope", "Resized,Nope"}) {
        const TlbRun r = Tlb({"template", lib, "DPanelEvents", "--events", events}, 60000);
        EXPECT_EQ(r.exit, 2) << events;
        EXPECT_TRUE(r.err.contains("Nope is not an event of DPanelEvents")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}
