// Paths as a Wine prefix registers them ("C:\windows\system32\x.tlb", "Z:\home\...").
#pragma once

#include <string>
#include <string_view>

// The host path for a registered path: drive letters go through the prefix's dosdevices
// links. A path that is not a drive-letter path comes back unchanged.
std::string HostPathFromWinePath(std::string_view path);
