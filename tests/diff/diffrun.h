// Running widl and `quibrel-tlb diff` from the diff tests.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QFile>
#include <QTemporaryDir>

struct DiffRun {
    int code = -1;
    bool finished = false;
    QByteArray out, err;
};

inline DiffRun RunProgram(const QString& program, const QStringList& args, int timeoutMs = 120000) {
    QProcess p;
    p.start(program, args);
    DiffRun r;
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline DiffRun RunDiff(const QStringList& args, int timeoutMs = 120000) {
    return RunProgram(QStringLiteral(QUIBREL_TLB), QStringList{QStringLiteral("diff")} + args, timeoutMs);
}

// Compiles IDL from the test sources (tests/idl on the include path) into out; the widl
// messages when it fails.
inline QString CompileIdl(const QString& idl, const QString& out, const QStringList& defines = {}, bool win32 = false) {
    QStringList args{QStringLiteral("--nostdinc"), QStringLiteral("-I"), QStringLiteral(QUIBREL_SOURCE_DIR "/tests/idl"),
                     QStringLiteral("-t"), win32 ? QStringLiteral("--win32") : QStringLiteral("--win64")};
    for (const QString& d : defines) args << QStringLiteral("-D") << d;
    args << QStringLiteral("-o") << out << idl;
    DiffRun r = RunProgram(QStringLiteral(QUIBREL_WIDL), args);
    return r.code == 0 ? QString() : QString::fromUtf8(r.err);
}

const QString kPairIdl = QStringLiteral(QUIBREL_SOURCE_DIR "/tests/diff/DiffPair.idl");

// The old library and its variants, compiled once, with the stdole2 stand-in beside them for
// the dispatch interfaces' base.
class Pairs {
public:
    static Pairs& Get() {
        static Pairs p;
        return p;
    }
    QString Path(const QString& name) const { return dir_.filePath(name + QStringLiteral(".tlb")); }
    // Compiles the variant that has the one change Define; empty when it compiled.
    QString Variant(const QString& define) {
        const QString out = Path(define);
        if (QFile::exists(out)) return {};
        return CompileIdl(kPairIdl, out, {define});
    }
    QString BaseError() const { return baseError_; }
    QString Dir() const { return dir_.path(); }

private:
    Pairs() {
        // Imports are found beside the importer only, never in a registry of the machine.
        qputenv("QUIBREL_REGISTRY_DIR", dir_.filePath(QStringLiteral("registry")).toUtf8());
        qputenv("WINEPREFIX", dir_.filePath(QStringLiteral("wine")).toUtf8());
        QFile::copy(QStringLiteral(QUIBREL_FIXTURE_DIR "/stdole/stdole2.tlb"), dir_.filePath(QStringLiteral("stdole2.tlb")));
        baseError_ = CompileIdl(kPairIdl, Path(QStringLiteral("base")));
    }
    QTemporaryDir dir_;
    QString baseError_;
};
