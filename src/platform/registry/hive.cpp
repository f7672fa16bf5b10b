#include "platform/registry/hive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <atomic>
#include <cstdio>
#include <sys/stat.h>

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

void Hive::Load() {
    auto fresh = std::make_unique<Node>();
    damaged_ = unreadable_ = false;
    sig_ = FileSig{};
    QFile file(QString::fromStdString(path_));
    if (!path_.empty() && file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            unreadable_ = true;
            Report(path_ + ": cannot be read: " + file.errorString().toStdString());
        } else {
            struct stat st {};
            if (::fstat(file.handle(), &st) == 0) {
                sig_.exists = true;
                sig_.size = st.st_size;
                sig_.mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
                sig_.inode = st.st_ino;
            }
            if (file.size() > kMaxFileSize) {
                unreadable_ = true;
                Report(path_ + ": too large to be a registry file; not read");
            } else {
                QByteArray bytes = file.readAll();
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
