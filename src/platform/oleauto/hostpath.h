// File names between the API's UTF-16 and the host's bytes.
//
// A host file name is any string of bytes; most are UTF-8, but not all. So that every file
// can be named through the API, bytes 0x80..0xFF that are not part of valid UTF-8 travel as
// the lone surrogates U+DC80..U+DCFF and become the same bytes again on the way back.
// Only file names use this mapping; other text converts as Utf8ToUtf16 / Utf16ToUtf8 do.
#pragma once

#include <string>
#include <string_view>

// Host bytes to the API's form: valid UTF-8 decodes as usual, other bytes are escaped.
std::u16string HostPathToUtf16(std::string_view bytes);
// The API's form to host bytes: escaped bytes come back; other lone surrogates, which no
// host name can carry, become U+FFFD.
std::string Utf16ToHostPath(std::u16string_view path);
// Whether the name carries escaped bytes (and so needs the conversions above to reach its file).
bool HasEscapedBytes(std::u16string_view path);
// The name for showing: escaped bytes (and any other lone surrogate) shown as U+FFFD.
std::u16string PathDisplayText(std::u16string_view path);

// Whether the path names a regular file.
bool IsHostFile(std::u16string_view path);
// How writing a file went: written, not created (nothing written), or failed while writing;
// error is the errno value, 0 for a kind of file that is refused (a socket, a block device).
struct HostWriteResult {
    enum Status { Written, CannotCreate, WriteFailed };
    Status status = Written;
    int error = 0;
};
// Writes data to the file. A missing or regular file (also through a symbolic link, which
// keeps pointing at it) is created or replaced through a temporary file beside it and a
// rename, so that a failure leaves any previous file as it was; an existing file's
// permissions are kept, and one that may not be replaced is refused before anything is
// written. A FIFO or a character device is written directly. Anything else is refused.
HostWriteResult WriteHostFile(std::u16string_view path, std::string_view data);
// The same, true when written.
bool ReplaceHostFile(std::u16string_view path, std::string_view data);
