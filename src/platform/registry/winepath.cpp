#include "platform/registry/winepath.h"

std::string HostPathFromWinePath(std::string_view path) { return std::string(path); }
