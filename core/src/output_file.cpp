#include "output_file.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

#include "zip_file_io.hpp"

namespace zandrel {

namespace {

constexpr int max_name_attempts = 100;

// Six random name characters; getrandom may be unavailable in odd sandboxes,
// so a clock and counter mix stands in.
std::string random_suffix() {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        bits = static_cast<std::uint64_t>(now) * 0x9e3779b97f4a7c15ULL + (counter++ << 20) + ::getpid();
    }
    std::string suffix;
    for (int i = 0; i < 6; ++i, bits /= 62) suffix.push_back(alphabet[bits % 62]);
    return suffix;
}

}  // namespace

Status create_parent_directories(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) return {};
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    if (error) return ZandrelError::io(error.message());
    return {};
}

Result<OutputFile> OutputFile::create(const std::string& path) {
    const std::filesystem::path output(path);
    const std::string name = output.filename().string();
    if (path.empty()) return ZandrelError::io(system_error_text(ENOENT));
    struct stat info {};
    if (name.empty() || name == "." || name == ".." || (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
        return ZandrelError::io(system_error_text(EISDIR));
    const std::string directory = output.has_parent_path() ? output.parent_path().string() + "/" : "";
    // Created with 0666 so the kernel applies the umask as for any new file;
    // O_EXCL makes the name ours.
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        std::string temp_path = directory + "." + name + "." + random_suffix();
        const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return OutputFile(path, std::move(temp_path), fd);
        if (errno != EEXIST) return ZandrelError::io(system_error_text(errno));
    }
    return ZandrelError::io(system_error_text(EEXIST));
}

OutputFile::OutputFile(std::string path, std::string temp_path, int fd)
    : path_(std::move(path)), temp_path_(std::move(temp_path)), fd_(fd) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      temp_path_(std::move(other.temp_path_)),
      fd_(std::exchange(other.fd_, -1)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_path_.c_str());
}

int OutputFile::fd() const { return fd_; }

Status OutputFile::commit() {
    if (committed_ || fd_ < 0) return ZandrelError::io(system_error_text(EBADF));
    const int closed = ::close(std::exchange(fd_, -1));
    if (closed != 0) return ZandrelError::io(system_error_text(errno));
    if (::rename(temp_path_.c_str(), path_.c_str()) != 0) return ZandrelError::io(system_error_text(errno));
    committed_ = true;
    return {};
}

}  // namespace zandrel
