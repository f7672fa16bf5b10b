// index/: the library index behind finding across libraries (building, cache, queries) and
// the list of registered libraries. Qt Core only; built on text/.
//
// The library index: what every library the user has defines (types, members, the types they
// return and take, the interfaces types implement), collected through the type-library service
// and kept on disk so that only changed files are read again. Queries over it answer "which
// library defines X", "what returns / takes T", "who implements I" and "what is this GUID".
//
// The index holds plain values only: building reads each library through its own objects, so
// a build may run on a worker thread while the main window has libraries of its own open.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// One member of a type: a property, method, event, constant or field.
struct TIndexMember {
    QString Name;
    int Icon = 0;          // EntityIcon
    MEMBERID MemId = 0;
    QString Signature;     // the documentation pane's line, e.g. "Function Item(Index As Long) As<Node>"
    QStringList Returns;   // type names of the result (a property's or field's type)
    QStringList Takes;     // type names of the parameters
};

// One type of a library.
struct TIndexType {
    QString Name;
    int Icon = 0;          // EntityIcon; pure vtable interfaces count as interfaces
    int TypeKind = 0;      // TYPEKIND
    GUID Guid{};           // IID or CLSID
    QString Signature;     // "CoClass Name", "Alias Name As Long", ...
    QStringList Implements;  // interfaces implemented or inherited, transitively, without repeats
    std::vector<TIndexMember> Members;
};

// One library: a file, or one TYPELIB resource of an image.
struct TIndexLibrary {
    QString Path;          // what LoadTypeLib is given to open it ("...\2" for resource 2)
    QString Name;
    QString Description;
    GUID Guid{};
    int Major = 0, Minor = 0;
    std::vector<TIndexType> Types;
};

// One file of the sources as last read: what it holds, or why it could not be read.
struct TIndexFile {
    QString HostPath;      // the file on this machine (the cache key with size and time)
    qint64 Size = -1;
    qint64 MTime = 0;      // modification time, milliseconds since the epoch
    bool AllResources = true;  // every TYPELIB resource (a scanned folder), or just Resource
    int Resource = 0;      // with !AllResources: the resource a registered path names (0: first)
    QString LoadPath;      // the path as given (a registered path keeps its drive letter)
    HRESULT Status = S_OK; // failure status when no library could be read
    std::vector<TIndexLibrary> Libraries;
};

// Files are shared between indexes (a refresh keeps what did not change) and never changed.
using TIndexFilePtr = std::shared_ptr<const TIndexFile>;

// A file that could not be read, as listed to the user.
struct TIndexFailure {
    QString Path;
    HRESULT Status = S_OK;
};

// Where the index looks.
struct TIndexSources {
    bool Registered = false;     // every registered library, as the "Open..." list shows them
    QStringList Folders;         // searched recursively for .tlb .olb .dll .ocx .exe
};

// The file names a folder scan reads: ".tlb", ".olb", ".dll", ".ocx", ".exe" (any letter case),
// also followed by ".N" (a copy of a file's resource N).
bool IsIndexedFileName(const QString& fileName);

// Orders GUIDs by their bytes (map keys).
struct TGuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};
// CLSID -> the path (for LoadTypeLib) of the library declaring that coclass.
using TClassLibraryMap = std::map<GUID, QString, TGuidLess>;

class TLibraryIndex {
public:
    // Files in the order of the sources (registered ones first, then the folders, sorted).
    std::vector<TIndexFilePtr> Files;

    // Files that could not be read: damaged, unreadable, or a registered file that is missing.
    // Files a folder scan found that hold no type library are not failures; they are counted.
    std::vector<TIndexFailure> Failures() const;
    int FilesWithoutLibrary() const;
    int LibraryCount() const;
    // The library declaring a coclass with this CLSID: its path for LoadTypeLib; empty when none.
    QString LibraryDeclaringClsid(const GUID& clsid) const;
    // Every coclass of the index with its library (the first that declares it, as above).
    TClassLibraryMap ClassLibraries() const;
};

// The same over the registered libraries, with the index brought up to date from the cache
// file first (only changed files are read): for finding the library of a class whose
// registration names none.
QString RegisteredLibraryDeclaringClsid(const GUID& clsid);

// Progress of a build: files done out of the total, read from any thread.
struct TIndexProgress {
    std::atomic<int> Done{0};
    std::atomic<int> Total{0};
    std::atomic<bool> Cancel{false};
};

// How a build went.
struct TIndexBuildStats {
    int FilesRead = 0;       // files read through the type-library service
    int FilesFromCache = 0;  // files taken unchanged from the cache or the previous index
    bool CacheRejected = false;  // the cache file was there but damaged or foreign
    bool Cancelled = false;
};

// The cache file: $XDG_CACHE_HOME/quibrel/library-index.bin (~/.cache/quibrel/); the
// QUIBREL_CACHE_DIR environment variable, when set, names the folder instead.
QString IndexCachePath();

// Builds the index of the sources. Files whose path, size and modification time are unchanged
// since `previous` (else since the cache file) are not read again. Reading one file failing never
// stops the rest. Cancelling returns what was done so far (stats->Cancelled). cachePath empty:
// no cache file is read or written.
std::shared_ptr<TLibraryIndex> BuildLibraryIndex(const TIndexSources& sources, const QString& cachePath,
                                                 const TLibraryIndex* previous = nullptr,
                                                 TIndexProgress* progress = nullptr,
                                                 TIndexBuildStats* stats = nullptr);

// The index entry of one file as read now (no cache).
TIndexFile ReadIndexFile(const QString& loadPath, bool allResources);

// ---- the cache file ----------------------------------------------------------------------------

// Serialized files. Reading checks every count and length against the data; damaged or foreign
// data gives false and nothing.
QByteArray SerializeIndexFiles(const std::vector<TIndexFilePtr>& files);
bool DeserializeIndexFiles(const QByteArray& data, std::vector<TIndexFilePtr>* files);
// The checksum the cache file carries over its payload.
quint64 IndexCacheChecksum(const char* data, qsizetype size);
// Reads and writes the cache file (written through a temporary file and a rename).
bool ReadIndexCache(const QString& path, std::vector<TIndexFilePtr>* files, bool* rejected = nullptr);
bool WriteIndexCache(const QString& path, const std::vector<TIndexFilePtr>& files);

// ---- queries -----------------------------------------------------------------------------------

// One answer: a library, and a class of it (empty: the library itself), and a member of that
// class (empty: the class itself).
struct TIndexResult {
    QString LibraryPath;
    QString LibraryName;
    QString ClassName;
    int ClassIcon = -1;
    QString MemberName;
    int MemberIcon = -1;
    QString Signature;
};

// The query kinds: a name fragment ("Node", "IXML*Node", "Get?tem"), a GUID (with or without
// braces), "returns:TYPE", "takes:TYPE", "implements:INTERFACE". Letter case is ignored.
// A fragment without wildcards matches anywhere in a name; with * or ? it must match the
// whole name. TYPE and INTERFACE take wildcards the same way but match whole names only.
struct TIndexQuery {
    enum Kind { Name, Guid, Returns, Takes, Implements };
    Kind QueryKind = Name;
    QString Pattern;
    GUID GuidValue{};
    // False when the text is no query (empty, or a "returns:" with nothing after it...).
    static bool Parse(const QString& text, TIndexQuery* query, QString* error = nullptr);
};

// The answers in index order; at most `limit` (0: all).
std::vector<TIndexResult> RunIndexQuery(const TLibraryIndex& index, const TIndexQuery& query, size_t limit = 0);
