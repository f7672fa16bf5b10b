#include "platform/registry/hive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regstore {

static std::atomic<std::uint64_t> g_generation{1};

std::uint64_t CurrentGeneration() { return g_generation.load(); }
static void Changed() { ++g_generation; }

static void Report(const std::string& text) { std::fprintf(stderr, "quibrel: %s\n", text.c_str()); }

static void ApplyTo(Node& root, const Op& op) {
    if (op.kind == Op::DeleteTree && !op.path.empty()) {
        Node* parent = &root;
        for (size_t i = 0; i + 1 < op.path.size() && parent; ++i) parent = parent->Child(op.path[i]);
        if (parent) parent->RemoveChild(op.path.back());
        return;
    }
    Node* node = &root;
    for (const std::string& part : op.path) {
        node = op.kind == Op::CreateKey || op.kind == Op::SetValue ? node->AddChild(part) : node->Child(part);
        if (!node) return;
    }
    switch (op.kind) {
    case Op::SetValue: node->SetValue(op.name, op.type, op.data); break;
    case Op::DeleteTree:
    case Op::ClearKey: node->Clear(); break;
    case Op::CreateKey: break;
    }
}

Hive::Hive(Dialect dialect, std::string rootName)
    : dialect_(std::move(dialect)), rootName_(std::move(rootName)), root_(std::make_unique<Node>()) {}

Hive::~Hive() {
    if (Pending()) Save();
}

LSTATUS Hive::SetPath(const std::string& path) {
    if (path == path_) return ERROR_SUCCESS;
    LSTATUS status = Pending() ? Save() : ERROR_SUCCESS;
    journal_.clear();
    path_ = path;
    loaded_ = false;
    root_ = std::make_unique<Node>();
    Changed();
    return status;
}

Hive::FileSig Hive::Stat(const std::string& path) {
    FileSig sig;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return sig;
    sig.exists = true;
    sig.size = st.st_size;
    sig.mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    sig.inode = st.st_ino;
    return sig;
}

void Hive::Refresh() {
    if (loaded_ && Stat(path_) == sig_) return;
    Load();
}

// Reads a registry file: it must be a regular file (a symlink to one is fine) of at most
// kMaxFileSize bytes. A device or a FIFO is refused without blocking or reading it. Returns
// false with a reason when the file exists but cannot be read; *exists tells whether it exists.
static bool ReadRegistryFile(const std::string& path, QByteArray* bytes, struct stat* st, bool* exists,
                             std::string* reason) {
    *exists = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        *exists = true;
        *reason = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    *exists = true;
    bool ok = false;
    if (::fstat(fd, st) != 0) {
        *reason = std::string("cannot be read: ") + std::strerror(errno);
    } else if (!S_ISREG(st->st_mode)) {
        *reason = "not a regular file; not read";
    } else {
        // At most one byte past the limit, whatever the size said when we looked.
        bytes->resize(qsizetype(std::min<std::int64_t>(st->st_size, kMaxFileSize) + 1));
        qsizetype got = 0;
        ok = true;
        while (got < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + got, size_t(bytes->size() - got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *reason = std::string("cannot be read: ") + std::strerror(errno);
                ok = false;
                break;
            }
            if (n == 0) break;
            got += n;
            if (got == bytes->size() && got <= kMaxFileSize) bytes->resize(std::min<qsizetype>(got * 2, kMaxFileSize + 1));
        }
        bytes->resize(got);
        if (ok && got > kMaxFileSize) {
            *reason = "too large to be a registry file; not read";
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

void Hive::Load() {
    auto fresh = std::make_unique<Node>();
    damaged_ = unreadable_ = false;
    sig_ = FileSig{};
    if (!path_.empty()) {
        QByteArray bytes;
        struct stat st {};
        bool exists = false;
        std::string reason;
        const bool read = ReadRegistryFile(path_, &bytes, &st, &exists, &reason);
        if (exists && st.st_ino) {
            sig_.exists = true;
            sig_.size = st.st_size;
            sig_.mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            sig_.inode = st.st_ino;
        }
        if (!read) {
            unreadable_ = true;
            Report(path_ + ": " + reason);
        } else if (exists) {
            ParseReport r = ParseRegText(std::string_view(bytes.constData(), size_t(bytes.size())), dialect_,
                                         fresh.get());
            if (r.errors) {
                damaged_ = true;
                std::string what = path_ + ":" + std::to_string(r.firstErrorLine) + ": " + r.firstError;
                if (r.errors > 1) what += " (and " + std::to_string(r.errors - 1) + " more lines)";
                what += dialect_.wine ? "; such lines are skipped"
                                      : "; such lines are skipped, and the file is kept as *.bad before it is next saved";
                Report(what);
            }
        }
    }
    for (const Op& op : journal_) ApplyTo(*fresh, op);
    root_ = std::move(fresh);
    loaded_ = true;
    Changed();
}

const Node* Hive::Find(const std::vector<std::string>& path) const {
    const Node* node = root_.get();
    for (const std::string& part : path) {
        node = node->Child(part);
        if (!node) return nullptr;
    }
    return node;
}

void Hive::Apply(Op op) {
    ApplyTo(*root_, op);
    journal_.push_back(std::move(op));
    Changed();
}

LSTATUS Hive::KeepDamagedCopy() {
    for (int n = 0; n < 1000; ++n) {
        std::string bad = n == 0 ? path_ + ".bad" : path_ + "." + std::to_string(n) + ".bad";
        if (QFileInfo::exists(QString::fromStdString(bad))) continue;
        if (!QFile::copy(QString::fromStdString(path_), QString::fromStdString(bad))) break;
        Report(path_ + ": the damaged file was kept as " + bad);
        return ERROR_SUCCESS;
    }
    Report(path_ + ": cannot keep a copy of the damaged file; not saved");
    return ERROR_CANTWRITE;
}

LSTATUS Hive::Save() {
    if (!Pending()) return ERROR_SUCCESS;
    if (dialect_.wine || path_.empty()) return ERROR_ACCESS_DENIED;
    QString path = QString::fromStdString(path_);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        Report(path_ + ": cannot create its folder; not saved");
        return ERROR_CANTWRITE;
    }
    QLockFile lock(path + ".lock");
    if (!lock.tryLock(20000)) {
        Report(path_ + ": cannot lock it for saving; not saved");
        return ERROR_CANTWRITE;
    }
    // Another process may have saved since we read it: build on its file, not ours.
    Refresh();
    if (unreadable_) {
        Report(path_ + ": not saved, since its current content could not be read");
        return ERROR_ACCESS_DENIED;
    }
    if (damaged_ && KeepDamagedCopy() != ERROR_SUCCESS) return ERROR_CANTWRITE;

    std::string text = WriteRegText(*root_, rootName_);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), qint64(text.size())) != qint64(text.size()) ||
        !out.commit()) {
        Report(path_ + ": cannot be saved: " + out.errorString().toStdString());
        return ERROR_CANTWRITE;
    }
    journal_.clear();
    damaged_ = false;
    sig_ = Stat(path_);
    return ERROR_SUCCESS;
}

}  // namespace regstore
