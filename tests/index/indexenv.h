// What the index tests share: one application with a registry, cache and user folders of its
// own, and folders of fixture libraries copied where a test may change them.
#pragma once

#include "index/libindex.h"

#include "common/windowenv.h"
#include "platform/oleauto/hostpath.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline QString Fixture(const QString& name) { return QStringLiteral(QUIBREL_FIXTURE_DIR "/") + name; }
inline QString RealLibraries() { return QStringLiteral(QUIBREL_TYPELIBS_DIR "/files"); }

// A folder of copies of fixture libraries.
class LibraryFolder {
public:
    explicit LibraryFolder(std::initializer_list<const char*> names) {
        for (const char* name : names) Add(name, QString::fromLatin1(name).section('/', -1));
    }
    QString Path() const { return FDir.path(); }
    QString File(const QString& name) const { return FDir.path() + "/" + name; }
    void Add(const char* fixture, const QString& as) {
        QDir().mkpath(QFileInfo(File(as)).absolutePath());
        QFile::remove(File(as));
        EXPECT_TRUE(QFile::copy(Fixture(QString::fromLatin1(fixture)), File(as))) << fixture;
    }
    // A copy under a name of raw bytes (one that is not UTF-8); returns the name as the API
    // carries it (each byte that is not UTF-8 as U+DC80..U+DCFF).
    QString AddBytes(const char* fixture, const std::string& rawName, const QByteArray& bytes = QByteArray()) {
        const std::filesystem::path to = std::filesystem::path(FDir.path().toStdString()) / rawName;
        std::error_code ec;
        if (bytes.isNull()) {
            std::filesystem::copy_file(Fixture(QString::fromLatin1(fixture)).toStdString(), to, ec);
        } else {
            std::FILE* f = std::fopen(to.c_str(), "wb");
            if (f) {
                std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
                std::fclose(f);
            } else {
                ec = std::make_error_code(std::errc::io_error);
            }
        }
        EXPECT_FALSE(ec) << rawName;
        return QString::fromStdU16String(HostPathToUtf16(rawName));
    }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile f(File(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private:
    QTemporaryDir FDir;
};

inline TIndexSources FolderSources(const QString& folder) {
    TIndexSources s;
    s.Folders << folder;
    return s;
}

// "FILE-NAME CLASS.MEMBER" per result (FILE-NAME keeps a "\N" resource suffix), sorted.
inline QStringList Answers(const TLibraryIndex& index, const QString& text) {
    TIndexQuery q;
    EXPECT_TRUE(TIndexQuery::Parse(text, &q)) << text.toStdString();
    QStringList out;
    for (const TIndexResult& r : RunIndexQuery(index, q)) {
        QString line = r.LibraryPath.section('/', -1) + " " + r.ClassName;
        if (!r.MemberName.isEmpty()) line += "." + r.MemberName;
        out << line;
    }
    out.sort();
    return out;
}
