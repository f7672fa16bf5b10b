// File names between the API's UTF-16 and the host's bytes; writing a file by such a name.
#include "platform/oleauto/hostpath.h"

#include "platform/oleauto/comptr.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

namespace {

// Every byte to fd, through interrupted and short writes: 0, else the errno of the failure.
int WriteAll(int fd, std::string_view data) {
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += std::size_t(n);
    }
    return 0;
}

// A FIFO or a character device: written as it is, once.
HostWriteResult WriteDirectly(const std::string& target, std::string_view data) {
    int fd;
    do fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return {HostWriteResult::CannotCreate, errno};
    int error = WriteAll(fd, data);
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error) return {HostWriteResult::WriteFailed, error};
    return {};
}

// A regular file, or none yet: a temporary file beside it renamed over it.
HostWriteResult Replace(const std::string& target, const struct stat* existing, std::string_view data) {
    mode_t mode;
    if (existing) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // The temporary file: the target's own bytes with a unique ending, in the same folder.
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return {HostWriteResult::CannotCreate, errno};
    int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (!error) error = WriteAll(fd, data);
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (!error) return {};
    ::unlink(temp.c_str());
    return {HostWriteResult::WriteFailed, error};
}

}  // namespace

HostWriteResult WriteHostFile(std::u16string_view path, std::string_view data) {
    std::string target = Utf16ToHostPath(path);
    if (target.empty() || target.find('\0') != std::string::npos) return {HostWriteResult::CannotCreate, ENOENT};
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) return {HostWriteResult::CannotCreate, errno};
        return Replace(target, nullptr, data);
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return WriteDirectly(target, data);
    if (S_ISDIR(st.st_mode)) return {HostWriteResult::CannotCreate, EISDIR};
    if (!S_ISREG(st.st_mode)) return {HostWriteResult::CannotCreate, 0};
    // Renaming over a file that may not be written would bypass its protection.
    if (::access(target.c_str(), W_OK) != 0) return {HostWriteResult::CannotCreate, errno};
    // Through a symbolic link, the file it points at is replaced and the link kept.
    struct stat link {};
    if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* real = ::realpath(target.c_str(), nullptr);
        if (!real) return {HostWriteResult::CannotCreate, errno};
        target = real;
        std::free(real);
    }
    return Replace(target, &st, data);
}

bool ReplaceHostFile(std::u16string_view path, std::string_view data) {
    return WriteHostFile(path, data).status == HostWriteResult::Written;
}
