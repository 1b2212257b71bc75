// Feeds arbitrary bytes to the ZIP reader as an archive file and reads every
// entry, then copies each entry raw and re-timed into a writer on /dev/null so
// the record rewriting runs on whatever the reader accepted. Opening every
// entry at once must agree with opening them one by one (aborts otherwise).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zip_reader.hpp"
#include "zip_writer.hpp"

namespace {

// The reader works on files only; /dev/shm keeps the per-input write in memory.
const std::string& input_path() {
    static const std::string path = [] {
        std::string made = "/dev/shm/zandrel-fuzz-zip-" + std::to_string(::getpid()) + ".zip";
        static std::string removed = made;
        std::atexit([] { ::unlink(removed.c_str()); });
        return made;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int sink_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int fd = ::open(input_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put <= 0) std::abort();
        done += static_cast<std::size_t>(put);
    }
    ::close(fd);

    auto reader = zandrel::ZipReader::open(input_path());
    if (!reader) return 0;
    zandrel::ZipWriter raw_copy(sink_fd);
    zandrel::ZipWriter retimed(sink_fd);
    std::string first_failure;
    for (std::size_t i = 0; i < reader->entry_count() && first_failure.empty(); ++i)
        if (auto opened = reader->open_entry(i); !opened) first_failure = opened.error().display();
    const zandrel::Status every = reader->open_every_entry();
    if ((every ? std::string() : every.error().display()) != first_failure) std::abort();
    for (std::size_t i = 0; i < reader->entry_count(); ++i) {
        (void)reader->find(reader->entry(i).name);
        auto opened = reader->open_entry(i);
        if (opened) (void)reader->read_entry(*opened);
        (void)raw_copy.copy_raw(*reader, i);
        if (i % 4 == 0) (void)retimed.copy_unverified_with_new_timestamp(*reader, i, {});
    }
    (void)raw_copy.finish();
    (void)retimed.finish();
    return 0;
}
