// File names between the API's UTF-16 and the host's bytes; writing a file by such a name.
#include "platform/oleauto/hostpath.h"

#include "platform/oleauto/comptr.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsEscape(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// The length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when the bytes
// there are not one (overlong forms, encoded surrogates and values past U+10FFFF included).
int Utf8Sequence(std::string_view s, std::size_t i, char32_t* cp) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = at(i);
    if (b < 0x80) { *cp = b; return 1; }
    int extra;
    char32_t c, min;
    if (b >= 0xC2 && b <= 0xDF) { extra = 1; c = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; c = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { extra = 3; c = b & 0x07; min = 0x10000; }
    else return 0;
    if (s.size() - i <= std::size_t(extra)) return 0;
    for (int k = 1; k <= extra; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (at(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return extra + 1;
}

}  // namespace

std::u16string HostPathToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c;
        const int n = Utf8Sequence(bytes, i, &c);
        if (n == 0) {
            out += char16_t(0xDC00 + static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        i += std::size_t(n);
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

std::string Utf16ToHostPath(std::u16string_view path) {
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        if (IsHigh(c) && i + 1 < path.size() && IsLow(path[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (path[i + 1] - 0xDC00));
            ++i;
        } else if (IsEscape(c)) {
            out += char(c - 0xDC00);
        } else if (IsHigh(c) || IsLow(c)) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

bool HasEscapedBytes(std::u16string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsHigh(path[i]) && i + 1 < path.size() && IsLow(path[i + 1])) ++i;
        else if (IsEscape(path[i])) return true;
    }
    return false;
}

std::u16string PathDisplayText(std::u16string_view path) {
    std::u16string out(path);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsHigh(out[i]) && i + 1 < out.size() && IsLow(out[i + 1])) ++i;
        else if (IsHigh(out[i]) || IsLow(out[i])) out[i] = u'\uFFFD';
    }
    return out;
}

bool IsHostFile(std::u16string_view path) {
    struct stat st {};
    return ::stat(Utf16ToHostPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReplaceHostFile(std::u16string_view path, std::string_view data) {
    const std::string target = Utf16ToHostPath(path);
    if (target.empty() || target.find('\0') != std::string::npos) return false;
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (S_ISDIR(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) return false;
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // The temporary file: the target's own bytes with a unique ending, in the same folder.
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += std::size_t(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}
