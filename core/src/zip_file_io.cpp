#include "zip_file_io.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace zandrel {

std::string system_error_text(int error_number) {
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in `buffer`.
    return ::strerror_r(error_number, buffer, sizeof buffer);
}

Status read_exact_at(int fd, char* out, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return ZandrelError::io(system_error_text(errno));
        }
        if (got == 0) return ZandrelError::io("unexpected end of file");
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return {};
}

Status write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            return ZandrelError::io(system_error_text(errno));
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return {};
}

}  // namespace zandrel
