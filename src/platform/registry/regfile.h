// Registry keys in memory, and the two text forms they are read from: the registry export
// format ("Windows Registry Editor Version 5.00", UTF-8 here) that our own files use, and the
// files of a Wine prefix ("WINE REGISTRY Version 2"), of which only a subtree is kept.
#pragma once

#include "platform/registry/registry.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace regstore {

// The form a name is compared in: names match without regard to letter case.
std::string FoldName(std::string_view name);

struct Value {
    std::string name;  // "" is the default value
    DWORD type = REG_SZ;
    std::string data;  // string types: UTF-8 text with its terminating 0
};

class Node {
public:
    explicit Node(std::string name = {}) : name_(std::move(name)) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const std::string& Name() const { return name_; }
    Node* Child(std::string_view name) const;
    // The child of that name, created at the end when absent.
    Node* AddChild(std::string_view name);
    bool RemoveChild(std::string_view name);
    const std::vector<std::unique_ptr<Node>>& Children() const { return children_; }

    const Value* FindValue(std::string_view name) const;
    void SetValue(std::string_view name, DWORD type, std::string data);
    bool RemoveValue(std::string_view name);
    const std::vector<Value>& Values() const { return values_; }

    void Clear();
    bool Empty() const { return children_.empty() && values_.empty(); }

private:
    std::string name_;
    std::vector<std::unique_ptr<Node>> children_;
    std::unordered_map<std::string, Node*> index_;  // folded name -> child
    std::vector<Value> values_;
};

// Deepest key path accepted from a file or a caller.
constexpr size_t kMaxDepth = 512;

struct ParseReport {
    int errors = 0;
    int firstErrorLine = 0;
    std::string firstError;
};

// One dialect of the text: which root names a key line may start with (our files), or which
// subtree of a Wine file is kept.
struct Dialect {
    bool wine = false;
    // Our files: accepted root names ("HKEY_CLASSES_ROOT", ...), compared without regard to
    // case; keys under any other root are errors. The first one is written.
    std::vector<std::string> roots;
    // Wine files: the key path whose subtree becomes the root ("Software\Classes").
    std::string wineSubtree;
};

// Parses file bytes into root (which should be empty). Lines that cannot be understood are
// counted in the report and skipped; everything else is kept.
ParseReport ParseRegText(std::string_view bytes, const Dialect& dialect, Node* root);

// The export-format text of the tree, every key in stored order, values in stored order.
std::string WriteRegText(const Node& root, const std::string& rootName);

// UTF-16LE bytes <-> UTF-8, for string data kept as hex in a file.
std::string Utf16LeBytesToUtf8(std::string_view bytes);
std::string Utf8ToUtf16LeBytes(std::string_view text);

inline bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A key or value name that a file can hold: no control characters, no backslash in key names.
bool ValidKeyName(std::string_view name);
bool ValidValueName(std::string_view name);

}  // namespace regstore
