// Why a file named on the command line cannot be a library at all, for the companion's
// one-line errors: the browser's message box says only that loading failed.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

// " (PATH: reason)" when the path is missing, unreadable or no regular file; empty otherwise.
// A trailing "\N" (a resource of an image) is looked through.
inline std::string FileProblem(const std::string& path) {
    struct stat st {};
    std::string file = path;
    int rc = ::stat(file.c_str(), &st);
    const std::size_t slash = path.find_last_of('\\');
    if (rc != 0 && slash != std::string::npos && slash + 1 < path.size() &&
        path.find_first_not_of("0123456789", slash + 1) == std::string::npos) {
        file = path.substr(0, slash);
        rc = ::stat(file.c_str(), &st);
    }
    std::string why;
    if (rc != 0) why = errno == ENOENT ? "no such file" : std::strerror(errno);
    else if (S_ISDIR(st.st_mode)) why = "a directory";
    else if (S_ISFIFO(st.st_mode)) why = "a FIFO";
    else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) why = "a device";
    else if (S_ISSOCK(st.st_mode)) why = "a socket";
    else if (!S_ISREG(st.st_mode)) why = "not a regular file";
    return why.empty() ? std::string() : " (" + file + ": " + why + ")";
}
