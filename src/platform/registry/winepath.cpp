#include "platform/registry/winepath.h"

#include <QDir>
#include <QString>

#include <cstdlib>
#include <sys/stat.h>

std::string WinePrefixDir() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix) return prefix;
    return QDir::homePath().toStdString() + "/.wine";
}

static bool Exists(const std::string& path, bool* isDir = nullptr) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if (isDir) *isDir = S_ISDIR(st.st_mode);
    return true;
}

// The entry of folder dir named name without regard to letter case, or "" when there is none.
static std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
    QString wanted = QString::fromStdString(name);
    const QStringList entries =
        QDir(QString::fromStdString(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : entries)
        if (e.compare(wanted, Qt::CaseInsensitive) == 0) return e.toStdString();
    return {};
}

static bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string HostPathFromWinePath(std::string_view path) {
    std::string_view p = path;
    if (p.substr(0, 4) == "\\\\?\\") p.remove_prefix(4);  // "\\?\C:\..."
    char letter = p.size() >= 2 ? p[0] : '\0';
    if (letter >= 'A' && letter <= 'Z') letter = char(letter + 32);
    if (!(letter >= 'a' && letter <= 'z') || p[1] != ':' || (p.size() > 2 && p[2] != '\\' && p[2] != '/'))
        return std::string(path);

    std::string host = WinePrefixDir() + "/dosdevices/" + letter + ":";
    if (!Exists(host)) return std::string(path);

    std::vector<std::string> parts;
    size_t start = 2;
    while (start < p.size()) {
        size_t end = p.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = p.size();
        if (end > start) parts.emplace_back(p.substr(start, end - start));
        start = end + 1;
    }
    size_t depth = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part == ".") continue;
        if (part == "..") {
            if (depth > 0) host += "/..", --depth;  // the drive's root is as far up as a path goes
            continue;
        }
        std::string exact = host + "/" + part;
        if (Exists(exact)) {
            host = exact, ++depth;
            continue;
        }
        bool isDir = false;
        if (Exists(host, &isDir) && !isDir && i + 1 == parts.size() && AllDigits(part))
            return host + "\\" + part;  // a resource number after a module's path
        std::string found = isDir ? FindIgnoringCase(host, part) : std::string();
        host += "/" + (found.empty() ? part : found);
        ++depth;
    }
    return host;
}
