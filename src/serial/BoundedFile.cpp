#include "serial/BoundedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx200 {
namespace {

std::string errnoText(int error)
{
    return std::string("cannot read: ") + std::strerror(error);
}

std::string tooLarge(std::int64_t maxBytes)
{
    return "larger than " + std::to_string(maxBytes) + " bytes";
}

// The rest of an open regular file, up to one byte past the bound: a file may grow after it
// was looked at.
void readUpTo(int fd, std::int64_t maxBytes, FileRead& read)
{
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            read.error = errnoText(errno);
        if (n <= 0)
            return;
        read.bytes.append(chunk, std::size_t(n));
        if (std::int64_t(read.bytes.size()) > maxBytes) {
            read.error = tooLarge(maxBytes);
            return;
        }
    }
}

} // namespace

FileRead readRegularFile(const std::string& path, std::int64_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {{}, errnoText(errno)};
    FileRead read;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        read.error = errnoText(errno);
    else if (S_ISDIR(st.st_mode))
        read.error = "a folder, not a file";
    else if (!S_ISREG(st.st_mode))
        read.error = "not a regular file";
    else if (st.st_size > maxBytes)
        read.error = tooLarge(maxBytes);
    else
        readUpTo(fd, maxBytes, read);
    ::close(fd);
    if (!read.error.empty())
        read.bytes.clear();
    return read;
}

} // namespace qx200
