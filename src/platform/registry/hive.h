// One registry file: loaded when first needed, reloaded when it changed on disk, and saved
// safely (lock, temporary file, rename), merging with what another process saved meanwhile.
#pragma once

#include "platform/registry/regfile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace regstore {

// A change to a hive, kept until it is saved so that it can be replayed over a newer file.
struct Op {
    enum Kind { CreateKey, SetValue, DeleteTree, ClearKey } kind;
    std::vector<std::string> path;
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

// Changes on every load and every change of any hive, so views of them can be cached.
std::uint64_t CurrentGeneration();

// Largest registry file read.
constexpr std::int64_t kMaxFileSize = std::int64_t(256) << 20;

class Hive {
public:
    // rootName is the root written in key lines of our files; Wine's files are read only.
    Hive(Dialect dialect, std::string rootName);
    ~Hive();

    // Chooses the file. Pending changes for the file chosen before are saved first.
    LSTATUS SetPath(const std::string& path);
    const std::string& Path() const { return path_; }

    // Loads the file the first time, and again when it changed on disk; pending changes are
    // replayed over the new content.
    void Refresh();
    const Node& Root() const { return *root_; }
    const Node* Find(const std::vector<std::string>& path) const;

    // Applies a change at once; it is written by the next Save.
    void Apply(Op op);
    bool Pending() const { return !journal_.empty(); }
    // Writes pending changes: under a lock, over the file as it is now on disk.
    LSTATUS Save();

    // Handles open for writing on this hive: while there are any, saving waits for the last
    // one to close.
    int writers = 0;

private:
    struct FileSig {
        bool exists = false;
        std::int64_t size = 0;
        std::int64_t mtimeNs = 0;
        std::uint64_t inode = 0;
        bool operator==(const FileSig&) const = default;
    };
    static FileSig Stat(const std::string& path);
    void Load();
    LSTATUS KeepDamagedCopy();

    Dialect dialect_;
    std::string rootName_;
    std::string path_;
    std::unique_ptr<Node> root_;
    std::vector<Op> journal_;
    FileSig sig_;
    bool loaded_ = false;
    bool damaged_ = false;     // the file on disk has lines that could not be read
    bool unreadable_ = false;  // the file exists but could not be read at all
};

}  // namespace regstore
