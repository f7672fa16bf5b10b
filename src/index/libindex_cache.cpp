// The library index on disk. The cache file is untrusted input like a library: every count and
// length is checked against the bytes that are left, every value against its range, and a file
// that fails any check is ignored as a whole (and rebuilt by the next build).
//
// Layout (native byte order; the magic tells a foreign order apart): magic, format number,
// payload length, payload checksum, payload. The payload starts with a table of every distinct
// string (a 32-bit count of UTF-16 units and the units); the records then name strings by
// their 32-bit number in the table, so that the many repeated names and signatures (inherited
// members, libraries in several versions) are stored and loaded once. GUIDs are their 16 bytes.
#include "index/libindex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstring>
#include <vector>

namespace {

constexpr char kMagic[8] = {'Q', 'U', 'I', 'B', 'I', 'D', 'X', '\x1a'};
constexpr quint32 kFormat = 3;  // 3: type names carry their pointer depth; [retval] counts as a result
constexpr quint32 kByteOrderMark = 0x01020304;
constexpr qsizetype kHeaderSize = 8 + 4 + 4 + 8 + 8;
// A cache larger than this is not ours.
constexpr qint64 kMaxCacheSize = qint64(1) << 30;

}  // namespace

// FNV-1a over 64-bit words, then the remaining bytes.
quint64 IndexCacheChecksum(const char* p, qsizetype n) {
    quint64 h = 0xcbf29ce484222325ull;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 w;
        std::memcpy(&w, p + i, 8);
        h ^= w;
        h *= 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) {
        h ^= quint8(p[i]);
        h *= 0x100000001b3ull;
    }
    return h;
}

namespace {

class Writer {
public:
    explicit Writer(QByteArray* out) : FOut(out) {}
    template <class T>
    void Put(T v) { FOut->append(reinterpret_cast<const char*>(&v), sizeof v); }
    // A string by its number in the table.
    void Str(const QString& s) {
        auto it = FNumbers.constFind(s);
        if (it == FNumbers.constEnd()) {
            it = FNumbers.insert(s, quint32(FStrings.size()));
            FStrings.append(s);
        }
        Put(it.value());
    }
    // The table: its size, then each string's length and units.
    QByteArray Table() const {
        QByteArray table;
        Writer w(&table);
        w.Put(quint32(FStrings.size()));
        for (const QString& s : FStrings) {
            w.Put(quint32(s.size()));
            table.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
        }
        return table;
    }
    void List(const QStringList& l) {
        Put(quint32(l.size()));
        for (const QString& s : l) Str(s);
    }
    void Guid(const GUID& g) { Put(g); }

private:
    QByteArray* FOut;
    QHash<QString, quint32> FNumbers;
    QStringList FStrings;
};

class Reader {
public:
    Reader(const char* p, qsizetype n) : FP(p), FEnd(p + n) {}
    bool Ok() const { return FOk; }
    qsizetype Left() const { return FEnd - FP; }

    template <class T>
    T Get() {
        T v{};
        if (!FOk || Left() < qsizetype(sizeof v)) { FOk = false; return v; }
        std::memcpy(&v, FP, sizeof v);
        FP += sizeof v;
        return v;
    }
    // Reads the string table; the strings that follow are numbers into it.
    void Table() {
        const quint32 count = Count(4);
        FTable.reserve(count);
        for (quint32 i = 0; i < count && FOk; ++i) {
            const quint32 n = Get<quint32>();
            if (!FOk || qsizetype(n) > Left() / 2) { FOk = false; return; }
            QString s(qsizetype(n), Qt::Uninitialized);
            std::memcpy(s.data(), FP, size_t(n) * 2);
            FP += qsizetype(n) * 2;
            FTable.push_back(std::move(s));
        }
    }
    QString Str() {
        const quint32 n = Get<quint32>();
        if (!FOk || n >= FTable.size()) { FOk = false; return QString(); }
        return FTable[n];
    }
    // A count of elements each at least minSize bytes long, checked against what is left.
    quint32 Count(qsizetype minSize) {
        const quint32 n = Get<quint32>();
        if (!FOk || qsizetype(n) > Left() / minSize) { FOk = false; return 0; }
        return n;
    }
    QStringList List() {
        QStringList l;
        const quint32 n = Count(4);
        l.reserve(n);
        for (quint32 i = 0; i < n && FOk; ++i) l.append(Str());
        return l;
    }
    int Icon(int max) {
        const quint8 v = Get<quint8>();
        if (v > max) FOk = false;
        return v;
    }
    GUID Guid() { return Get<GUID>(); }

private:
    const char* FP;
    const char* FEnd;
    bool FOk = true;
    std::vector<QString> FTable;
};

}  // namespace

QByteArray SerializeIndexFiles(const std::vector<TIndexFilePtr>& files) {
    QByteArray payload;
    Writer w(&payload);
    w.Put(quint32(files.size()));
    for (const TIndexFilePtr& file : files) {
        const TIndexFile& f = *file;
        w.Str(f.HostPath);
        w.Put(qint64(f.Size));
        w.Put(qint64(f.MTime));
        w.Put(quint8(f.AllResources));
        w.Put(qint32(f.Resource));
        w.Str(f.LoadPath);
        w.Put(qint32(f.Status));
        w.Put(quint32(f.Libraries.size()));
        for (const TIndexLibrary& lib : f.Libraries) {
            w.Str(lib.Path);
            w.Str(lib.Name);
            w.Str(lib.Description);
            w.Guid(lib.Guid);
            w.Put(quint16(lib.Major));
            w.Put(quint16(lib.Minor));
            w.Put(quint32(lib.Types.size()));
            for (const TIndexType& t : lib.Types) {
                w.Str(t.Name);
                w.Put(quint8(t.Icon));
                w.Put(quint8(t.TypeKind));
                w.Guid(t.Guid);
                w.Str(t.Signature);
                w.List(t.Implements);
                w.Put(quint32(t.Members.size()));
                for (const TIndexMember& m : t.Members) {
                    w.Str(m.Name);
                    w.Put(quint8(m.Icon));
                    w.Put(qint32(m.MemId));
                    w.Str(m.Signature);
                    w.List(m.Returns);
                    w.List(m.Takes);
                }
            }
        }
    }
    payload.prepend(w.Table());
    QByteArray data(kMagic, sizeof kMagic);
    Writer h(&data);
    h.Put(kByteOrderMark);
    h.Put(kFormat);
    h.Put(quint64(payload.size()));
    h.Put(IndexCacheChecksum(payload.constData(), payload.size()));
    data += payload;
    return data;
}

bool DeserializeIndexFiles(const QByteArray& data, std::vector<TIndexFilePtr>* out) {
    out->clear();
    if (data.size() < kHeaderSize || std::memcmp(data.constData(), kMagic, sizeof kMagic) != 0) return false;
    Reader h(data.constData() + sizeof kMagic, kHeaderSize - qsizetype(sizeof kMagic));
    if (h.Get<quint32>() != kByteOrderMark || h.Get<quint32>() != kFormat) return false;
    const quint64 length = h.Get<quint64>();
    const quint64 sum = h.Get<quint64>();
    if (!h.Ok() || length != quint64(data.size() - kHeaderSize)) return false;
    const char* payload = data.constData() + kHeaderSize;
    if (IndexCacheChecksum(payload, qsizetype(length)) != sum) return false;

    // Smallest encodings: a string 4 bytes, a member 21, a type 34, a library 36, a file 37.
    Reader r(payload, qsizetype(length));
    r.Table();
    std::vector<TIndexFilePtr> files;
    const quint32 nFiles = r.Count(37);
    files.reserve(nFiles);
    for (quint32 i = 0; i < nFiles && r.Ok(); ++i) {
        TIndexFile f;
        f.HostPath = r.Str();
        f.Size = r.Get<qint64>();
        f.MTime = r.Get<qint64>();
        const quint8 all = r.Get<quint8>();
        if (all > 1) return false;
        f.AllResources = all;
        f.Resource = r.Get<qint32>();
        f.LoadPath = r.Str();
        f.Status = r.Get<qint32>();
        const quint32 nLibs = r.Count(36);
        f.Libraries.reserve(nLibs);
        for (quint32 j = 0; j < nLibs && r.Ok(); ++j) {
            TIndexLibrary lib;
            lib.Path = r.Str();
            lib.Name = r.Str();
            lib.Description = r.Str();
            lib.Guid = r.Guid();
            lib.Major = r.Get<quint16>();
            lib.Minor = r.Get<quint16>();
            const quint32 nTypes = r.Count(34);
            lib.Types.reserve(nTypes);
            for (quint32 k = 0; k < nTypes && r.Ok(); ++k) {
                TIndexType t;
                t.Name = r.Str();
                t.Icon = r.Icon(4);
                t.TypeKind = r.Icon(TKIND_MAX - 1);
                t.Guid = r.Guid();
                t.Signature = r.Str();
                t.Implements = r.List();
                const quint32 nMembers = r.Count(21);
                t.Members.reserve(nMembers);
                for (quint32 m = 0; m < nMembers && r.Ok(); ++m) {
                    TIndexMember member;
                    member.Name = r.Str();
                    member.Icon = r.Icon(9);
                    member.MemId = r.Get<qint32>();
                    member.Signature = r.Str();
                    member.Returns = r.List();
                    member.Takes = r.List();
                    if (member.Icon < 5) return false;
                    t.Members.push_back(std::move(member));
                }
                lib.Types.push_back(std::move(t));
            }
            f.Libraries.push_back(std::move(lib));
        }
        files.push_back(std::make_shared<const TIndexFile>(std::move(f)));
    }
    if (!r.Ok() || r.Left() != 0) return false;
    *out = std::move(files);
    return true;
}

bool ReadIndexCache(const QString& path, std::vector<TIndexFilePtr>* files, bool* rejected) {
    files->clear();
    if (rejected) *rejected = false;
    QFile file(path);
    if (!file.exists()) return false;
    const bool ok = file.open(QIODevice::ReadOnly) && file.size() <= kMaxCacheSize &&
                    DeserializeIndexFiles(file.readAll(), files);
    if (!ok && rejected) *rejected = true;
    return ok;
}

bool WriteIndexCache(const QString& path, const std::vector<TIndexFilePtr>& files) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // QSaveFile writes a temporary file beside the target and renames it over the target.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray data = SerializeIndexFiles(files);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
