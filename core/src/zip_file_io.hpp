// Positioned reads and complete writes on file descriptors, retried on EINTR
// and short transfers. Errors are Io with the operating system's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "models.hpp"

namespace zandrel {

// The operating system's text for an errno value, e.g. "No such file or directory".
std::string system_error_text(int error_number);

// Reads exactly `size` bytes at `offset` into `out`. Io error on failure, or
// "unexpected end of file" when the file is shorter.
Status read_exact_at(int fd, char* out, std::size_t size, std::uint64_t offset);

// Writes all `size` bytes at the descriptor's current position. Io error.
Status write_all(int fd, const char* data, std::size_t size);

// Copies `size` bytes at `offset` of `in_fd` to `out_fd`'s current position
// inside the kernel where the file systems allow it. Returns how many bytes
// were copied that way (the caller copies the rest itself), or an Io error.
Result<std::uint64_t> copy_in_kernel(int in_fd, std::uint64_t offset, std::uint64_t size, int out_fd);

}  // namespace zandrel
