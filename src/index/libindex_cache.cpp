// The library index on disk. The cache file is untrusted input like a library: every count and
// length is checked against the bytes that are left, every value against its range, and a file
// that fails any check is ignored as a whole (and rebuilt by the next build).
//
// Layout (native byte order; the magic tells a foreign order apart): magic, format number,
// payload length, payload checksum, payload. The payload starts with the total size of the
// files it describes, which bounds how large it may be; then a table of every distinct string
// (its length and its characters, one byte each when they are all Latin-1, else UTF-16 units),
// which the records name by number, so that the
// many repeated names and signatures (inherited members, libraries in several versions) are
// stored and loaded once; then every distinct library body (name, version, types, members)
// once, however many files hold that library; then the files, each naming its libraries'
// bodies by number. Counts, numbers and sizes are variable-length integers; GUIDs their 16 bytes.
#include "index/libindex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kMagic[8] = {'Q', 'U', 'I', 'B', 'I', 'D', 'X', '\x1a'};
constexpr quint32 kFormat = 4;  // 4: libraries stored once, compact; type names carry their pointer depth
constexpr quint32 kByteOrderMark = 0x01020304;
constexpr qsizetype kHeaderSize = 8 + 4 + 4 + 8 + 8;
// A cache larger than this is not ours.
constexpr qint64 kMaxCacheSize = qint64(1) << 30;
// Nor is one much larger than the files it describes could need: an entry takes well under
// the size of its library (about 0.4 of it for the largest real ones), plus a little per
// file for names and failures.
constexpr quint64 kMaxPayloadPerFileByte = 4;
constexpr quint64 kPayloadSlack = quint64(16) << 20;

// The sizes of the files the entries describe, added up.
quint64 DescribedBytes(const std::vector<TIndexFilePtr>& files) {
    quint64 total = 0;
    for (const TIndexFilePtr& f : files)
        if (f->Size > 0) total += quint64(f->Size);
    return total;
}

bool PayloadFits(quint64 length, quint64 described) {
    return length <= quint64(kMaxCacheSize) && length <= described * kMaxPayloadPerFileByte + kPayloadSlack;
}

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
    void To(QByteArray* out) { FOut = out; }
    template <class T>
    void Put(T v) { FOut->append(reinterpret_cast<const char*>(&v), sizeof v); }
    // An unsigned number in 7-bit groups, low first, the high bit marking that more follow.
    void Var(quint64 v) {
        while (v >= 0x80) {
            FOut->append(char(quint8(v) | 0x80));
            v >>= 7;
        }
        FOut->append(char(v));
    }
    // A signed number: zig-zag, so that small negative ones stay short too.
    void Signed(qint64 v) { Var((quint64(v) << 1) ^ quint64(v >> 63)); }
    // A string by its number in the table.
    void Str(const QString& s) {
        auto it = FNumbers.constFind(s);
        if (it == FNumbers.constEnd()) {
            it = FNumbers.insert(s, quint32(FStrings.size()));
            FStrings.append(s);
        }
        Var(it.value());
    }
    // The table: its size, then each string's length and units.
    QByteArray Table() const {
        QByteArray table;
        Writer w(&table);
        w.Var(quint64(FStrings.size()));
        for (const QString& s : FStrings) {
            // Its length and whether it needs 16 bits a unit; most names are Latin-1, one byte each.
            const bool wide = std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
            w.Var((quint64(s.size()) << 1) | quint64(wide));
            if (wide) table.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
            else table.append(s.toLatin1());
        }
        return table;
    }
    void List(const QStringList& l) {
        Var(quint64(l.size()));
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
    void Fail() { FOk = false; }
    qsizetype Left() const { return FEnd - FP; }
    const char* At() const { return FP; }

    template <class T>
    T Get() {
        T v{};
        if (!FOk || Left() < qsizetype(sizeof v)) { FOk = false; return v; }
        std::memcpy(&v, FP, sizeof v);
        FP += sizeof v;
        return v;
    }
    // A number as Writer::Var wrote it, at most 64 bits in at most ten bytes.
    quint64 Var() {
        quint64 v = 0;
        for (int shift = 0; FOk; shift += 7) {
            if (Left() < 1 || shift > 63) break;
            const quint8 b = quint8(*FP++);
            v |= quint64(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        FOk = false;
        return 0;
    }
    qint64 Signed() {
        const quint64 v = Var();
        return qint64(v >> 1) ^ -qint64(v & 1);
    }
    qint32 Int32() {
        const qint64 v = Signed();
        if (v < INT32_MIN || v > INT32_MAX) FOk = false;
        return qint32(v);
    }
    // Reads the string table; the strings that follow are numbers into it.
    void Table() {
        const quint32 count = Count(1);
        FTable.reserve(count);
        for (quint32 i = 0; i < count && FOk; ++i) {
            const quint64 word = Var();
            const quint64 n = word >> 1, unit = (word & 1) ? 2 : 1;
            if (!FOk || n > quint64(Left()) / unit) { FOk = false; return; }
            if (unit == 2) {
                QString s(qsizetype(n), Qt::Uninitialized);
                std::memcpy(s.data(), FP, size_t(n) * 2);
                FTable.push_back(std::move(s));
            } else {
                FTable.push_back(QString::fromLatin1(FP, qsizetype(n)));
            }
            FP += qsizetype(n * unit);
        }
    }
    QString Str() {
        const quint64 n = Var();
        if (!FOk || n >= FTable.size()) { FOk = false; return QString(); }
        return FTable[n];
    }
    // A count of elements each at least minSize bytes long, checked against what is left.
    quint32 Count(qsizetype minSize) {
        const quint64 n = Var();
        if (!FOk || n > quint64(Left() / minSize)) { FOk = false; return 0; }
        return quint32(n);
    }
    QStringList List() {
        QStringList l;
        const quint32 n = Count(1);
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

// What a library is, apart from where it was read: its name, version and types. Files that
// hold the same library (copies, versions kept side by side) share one such body.
void WriteBody(Writer& w, const TIndexLibrary& lib) {
    w.Str(lib.Name);
    w.Str(lib.Description);
    w.Guid(lib.Guid);
    w.Var(quint64(quint16(lib.Major)));
    w.Var(quint64(quint16(lib.Minor)));
    w.Var(quint64(lib.Types.size()));
    for (const TIndexType& t : lib.Types) {
        w.Str(t.Name);
        w.Put(quint8(t.Icon));
        w.Put(quint8(t.TypeKind));
        w.Guid(t.Guid);
        w.Str(t.Signature);
        w.List(t.Implements);
        w.Var(quint64(t.Members.size()));
        for (const TIndexMember& m : t.Members) {
            w.Str(m.Name);
            w.Put(quint8(m.Icon));
            w.Signed(m.MemId);
            w.Str(m.Signature);
            w.List(m.Returns);
            w.List(m.Takes);
        }
    }
}

// Smallest encodings: a member 6 bytes, a type 22, a body 21.
bool ReadBody(Reader& r, TIndexLibrary* lib) {
    lib->Name = r.Str();
    lib->Description = r.Str();
    lib->Guid = r.Guid();
    const quint64 major = r.Var(), minor = r.Var();
    if (major > 0xFFFF || minor > 0xFFFF) return false;
    lib->Major = int(major);
    lib->Minor = int(minor);
    const quint32 nTypes = r.Count(22);
    lib->Types.reserve(nTypes);
    for (quint32 k = 0; k < nTypes && r.Ok(); ++k) {
        TIndexType t;
        t.Name = r.Str();
        t.Icon = r.Icon(4);
        t.TypeKind = r.Icon(TKIND_MAX - 1);
        t.Guid = r.Guid();
        t.Signature = r.Str();
        t.Implements = r.List();
        const quint32 nMembers = r.Count(6);
        t.Members.reserve(nMembers);
        for (quint32 m = 0; m < nMembers && r.Ok(); ++m) {
            TIndexMember member;
            member.Name = r.Str();
            member.Icon = r.Icon(9);
            member.MemId = r.Int32();
            member.Signature = r.Str();
            member.Returns = r.List();
            member.Takes = r.List();
            if (member.Icon < 5) return false;
            t.Members.push_back(std::move(member));
        }
        lib->Types.push_back(std::move(t));
    }
    return r.Ok();
}

}  // namespace

// The payload: the described size, the string table, the library bodies, then the files,
// each library of a file as its path and the number of its body.
QByteArray SerializeIndexFiles(const std::vector<TIndexFilePtr>& files) {
    QByteArray bodies, records, body;
    Writer w(&records);
    QHash<QByteArray, quint32> bodyNumbers;
    quint32 bodyCount = 0;
    w.Var(quint64(files.size()));
    for (const TIndexFilePtr& file : files) {
        const TIndexFile& f = *file;
        w.Str(f.HostPath);
        w.Signed(f.Size);
        w.Signed(f.MTime);
        w.Put(quint8(f.AllResources));
        w.Signed(f.Resource);
        w.Str(f.LoadPath);
        w.Signed(qint32(f.Status));
        w.Var(quint64(f.Libraries.size()));
        for (const TIndexLibrary& lib : f.Libraries) {
            w.Str(lib.Path);
            body.clear();
            w.To(&body);
            WriteBody(w, lib);
            w.To(&records);
            auto it = bodyNumbers.constFind(body);
            if (it == bodyNumbers.constEnd()) {
                it = bodyNumbers.insert(body, bodyCount++);
                bodies += body;
            }
            w.Var(it.value());
        }
    }
    const quint64 described = DescribedBytes(files);
    QByteArray payload(reinterpret_cast<const char*>(&described), sizeof described);
    payload += w.Table();
    Writer counts(&payload);
    counts.Var(bodyCount);
    payload += bodies;
    payload += records;
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

    Reader r(payload, qsizetype(length));
    const quint64 described = r.Get<quint64>();
    if (!r.Ok() || !PayloadFits(length, described)) return false;
    r.Table();
    // The bodies, each with the bytes it took: a file's library costs its body's bytes again,
    // so that many references to one large body cannot make more than a cache of that
    // size could hold written out.
    const quint32 nBodies = r.Count(21);
    std::vector<TIndexLibrary> bodies(nBodies);
    std::vector<quint64> bodyBytes(nBodies);
    for (quint32 i = 0; i < nBodies && r.Ok(); ++i) {
        const char* start = r.At();
        if (!ReadBody(r, &bodies[i])) return false;
        bodyBytes[i] = quint64(r.At() - start);
    }
    const quint64 budget = std::min(quint64(kMaxCacheSize), described * kMaxPayloadPerFileByte + kPayloadSlack);
    quint64 spent = 0;

    // Smallest encodings: a library 2 bytes, a file 8. The libraries are taken from their
    // bodies once all files are read: the last file of a body gets it without a copy.
    std::vector<TIndexFile> read;
    std::vector<std::vector<quint32>> bodyOf;
    std::vector<quint32> uses(nBodies, 0);
    const quint32 nFiles = r.Count(8);
    read.reserve(nFiles);
    bodyOf.reserve(nFiles);
    for (quint32 i = 0; i < nFiles && r.Ok(); ++i) {
        TIndexFile f;
        f.HostPath = r.Str();
        f.Size = r.Signed();
        f.MTime = r.Signed();
        const quint8 all = r.Get<quint8>();
        if (all > 1) return false;
        f.AllResources = all;
        f.Resource = r.Int32();
        f.LoadPath = r.Str();
        f.Status = r.Int32();
        const quint32 nLibs = r.Count(2);
        f.Libraries.resize(nLibs);
        std::vector<quint32> refs(nLibs);
        for (quint32 j = 0; j < nLibs && r.Ok(); ++j) {
            f.Libraries[j].Path = r.Str();
            const quint64 body = r.Var();
            if (!r.Ok() || body >= nBodies) return false;
            spent += bodyBytes[body];
            if (spent > budget) return false;
            refs[j] = quint32(body);
            ++uses[body];
        }
        read.push_back(std::move(f));
        bodyOf.push_back(std::move(refs));
    }
    if (!r.Ok()) return false;
    std::vector<TIndexFilePtr> files;
    files.reserve(read.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        for (std::size_t j = 0; j < bodyOf[i].size(); ++j) {
            const quint32 body = bodyOf[i][j];
            TIndexLibrary& lib = read[i].Libraries[j];
            QString path = std::move(lib.Path);
            lib = --uses[body] == 0 ? std::move(bodies[body]) : bodies[body];
            lib.Path = std::move(path);
        }
        files.push_back(std::make_shared<const TIndexFile>(std::move(read[i])));
    }
    if (!r.Ok() || r.Left() != 0 || DescribedBytes(files) != described) return false;
    *out = std::move(files);
    return true;
}

namespace {

// Reads exactly n bytes at the file's position; false on an error or an early end.
bool ReadExactly(int fd, char* to, qsizetype n) {
    while (n > 0) {
        const ssize_t got = ::read(fd, to, size_t(n));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        to += got;
        n -= got;
    }
    return true;
}

// The cache file's bytes: only a regular file (a FIFO or a device there is not waited on or
// read without end), and only as much as its header claims and the bounds allow.
bool ReadCacheBytes(const QString& path, QByteArray* data) {
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st {};
    // The header and the size the payload describes first.
    constexpr qsizetype kStart = kHeaderSize + 8;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kStart && st.st_size <= kMaxCacheSize;
    if (ok) {
        data->resize(kStart);
        ok = ReadExactly(fd, data->data(), kStart);
    }
    quint64 length = 0, described = 0;
    if (ok) {
        std::memcpy(&length, data->constData() + 16, 8);
        std::memcpy(&described, data->constData() + kHeaderSize, 8);
        ok = PayloadFits(length, described) && quint64(st.st_size) == quint64(kHeaderSize) + length;
    }
    if (ok) {
        data->resize(kHeaderSize + qsizetype(length));
        ok = ReadExactly(fd, data->data() + kStart, qsizetype(length) - 8);
    }
    ::close(fd);
    if (!ok) data->clear();
    return ok;
}

}  // namespace

bool ReadIndexCache(const QString& path, std::vector<TIndexFilePtr>* files, bool* rejected) {
    files->clear();
    if (rejected) *rejected = false;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;  // none yet
    QByteArray data;
    const bool ok = ReadCacheBytes(path, &data) && DeserializeIndexFiles(data, files);
    if (!ok && rejected) *rejected = true;
    return ok;
}

bool WriteIndexCache(const QString& path, const std::vector<TIndexFilePtr>& files) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Only a regular file is replaced: not a FIFO, nor a device a link points at.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
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
