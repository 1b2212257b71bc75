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

Result<std::uint64_t> copy_in_kernel(int in_fd, std::uint64_t offset, std::uint64_t size, int out_fd) {
    std::uint64_t copied = 0;
    while (copied < size) {
        loff_t from = static_cast<loff_t>(offset + copied);
        const ssize_t moved = ::copy_file_range(in_fd, &from, out_fd, nullptr, size - copied, 0);
        if (moved < 0 && errno == EINTR) continue;
        // not supported between these files: the caller falls back to reading
        if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return copied;
        if (moved < 0) return ZandrelError::io(system_error_text(errno));
        if (moved == 0) return ZandrelError::io("unexpected end of file");
        copied += static_cast<std::uint64_t>(moved);
    }
    return copied;
}

}  // namespace zandrel
