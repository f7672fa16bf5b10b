// Paths as a Wine prefix registers them ("C:\windows\system32\x.tlb", "Z:\home\...").
#pragma once

#include <string>
#include <string_view>

// The Wine prefix whose registrations are read: $WINEPREFIX, else ~/.wine. It need not exist.
std::string WinePrefixDir();

// The host path for a registered path: drive letters go through the prefix's dosdevices
// links, and folder and file names are matched without regard to letter case where the exact
// spelling does not exist. A trailing resource number ("...\x.dll\2") is kept as "\2". A path
// that is not a drive-letter path, or whose drive the prefix does not have, comes back unchanged.
std::string HostPathFromWinePath(std::string_view path);
