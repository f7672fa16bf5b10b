// A temporary folder named and removed by its bytes, for files whose names are not UTF-8
// (QTemporaryDir cannot remove those: Qt reads such names with replacement characters).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

struct TByteDir {
    TByteDir() {
        const char* base = std::getenv("TMPDIR");
        std::string name = std::string(base && *base ? base : "/tmp") + "/quibrel-test-XXXXXX";
        if (::mkdtemp(name.data())) path = name;
    }
    ~TByteDir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    TByteDir(const TByteDir&) = delete;
    TByteDir& operator=(const TByteDir&) = delete;

    std::string path;  // empty when it could not be made
};
