// Raw-copying every entry of a deck into a new archive, against copying the
// file as it is (read and write through a 1 MiB buffer). The raw copy should
// cost about what the plain copy costs. Also times checking every entry by
// inflating it, on one thread and on the worker threads the re-timing edits
// use: that check, not the copy, bounds what delete and text replacement cost.
//
// usage: bench_zip_copy DECK.pptx [OUTPUT_FOLDER]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zip_entry_check.hpp"
#include "zip_reader.hpp"
#include "zip_writer.hpp"

namespace {

using namespace zandrel;

constexpr int rounds = 5;

bool copy_file_buffered(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> buffer(1 << 20);
    while (ok) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = ::write(out, buffer.data(), static_cast<std::size_t>(got)) == got;
    }
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    return ok;
}

Status copy_entries_raw(const std::string& from, const std::string& to) {
    ZANDREL_TRY(const ZipReader reader, ZipReader::open(from));
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) return ZandrelError::io("cannot create " + to);
    ZipWriter writer(out);
    Status status;
    for (std::size_t i = 0; i < reader.entry_count() && status; ++i) status = writer.copy_raw(reader, i);
    if (status) status = writer.finish();
    ::close(out);
    return status;
}

// The copy must list the same entries at the same sizes, with each entry's
// local header and data the same bytes as in the input.
bool check_copy(const std::string& from, const std::string& to) {
    auto input = ZipReader::open(from);
    auto output = ZipReader::open(to);
    if (!input || !output || input->entry_count() != output->entry_count()) return false;
    auto raw = [](const ZipReader& reader, const OpenedEntry& opened) {
        std::string bytes;
        const Status read = reader.read_raw(opened.local_header_offset, opened.data_end - opened.local_header_offset,
                                            [&](std::span<const char> chunk) { bytes.append(chunk.data(), chunk.size()); });
        return read ? bytes : std::string("<unreadable>");
    };
    for (std::size_t i = 0; i < input->entry_count(); ++i) {
        auto a = input->open_entry(i);
        auto b = output->open_entry(i);
        if (!a || !b || input->entry(i).name != output->entry(i).name || raw(*input, *a) != raw(*output, *b))
            return false;
    }
    return true;
}

bool check_entries_one_thread(const ZipReader& reader) {
    for (std::size_t i = 0; i < reader.entry_count(); ++i) {
        auto opened = reader.open_entry(i);
        if (!opened || !reader.verify_entry(*opened)) return false;
    }
    return true;
}

bool check_entries_in_parallel(const ZipReader& reader) {
    std::vector<std::size_t> indices(reader.entry_count());
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = i;
    ParallelEntryCheck check(reader, std::move(indices));
    return !check.finish().has_value();
}

// Best wall time of `rounds` runs, in seconds; the output is unlinked before
// each run so no run pays for truncating the previous one.
double best_time(const std::string& output, const std::function<bool()>& run) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        std::filesystem::remove(output);
        const auto start = std::chrono::steady_clock::now();
        if (!run()) return -1;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DECK.pptx [OUTPUT_FOLDER]\n", argv[0]);
        return 2;
    }
    const std::string deck = argv[1];
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
    const std::string plain_output = (folder / "bench_zip_copy_plain.pptx").string();
    const std::string zip_output = (folder / "bench_zip_copy_raw.pptx").string();

    if (const Status first = copy_entries_raw(deck, zip_output); !first) {
        std::fprintf(stderr, "raw copy failed: %s\n", first.error().display().c_str());
        return 1;
    }
    if (!check_copy(deck, zip_output)) {
        std::fprintf(stderr, "raw copy differs from the input\n");
        return 1;
    }
    const double size_mb = static_cast<double>(std::filesystem::file_size(deck)) / 1e6;
    const double plain = best_time(plain_output, [&] { return copy_file_buffered(deck, plain_output); });
    const double raw = best_time(zip_output, [&] { return copy_entries_raw(deck, zip_output).ok(); });
    const ZipReader reader = std::move(ZipReader::open(deck).value());
    const double checked = best_time(zip_output, [&] { return check_entries_one_thread(reader); });
    const double checked_parallel = best_time(zip_output, [&] { return check_entries_in_parallel(reader); });
    std::filesystem::remove(plain_output);
    std::filesystem::remove(zip_output);
    if (plain <= 0 || raw <= 0 || checked <= 0 || checked_parallel <= 0) {
        std::fprintf(stderr, "a timed run failed\n");
        return 1;
    }
    const std::size_t entries = ZipReader::open(deck)->entry_count();
    std::printf("deck: %s (%.1f MB, %zu entries), best of %d\n", deck.c_str(), size_mb, entries, rounds);
    std::printf("file copy (1 MiB buffer): %8.1f ms  %7.0f MB/s\n", plain * 1e3, size_mb / plain);
    std::printf("zip raw copy:             %8.1f ms  %7.0f MB/s\n", raw * 1e3, size_mb / raw);
    std::printf("ratio raw/file copy: %.2fx\n", raw / plain);
    std::printf("inflate check, 1 thread:  %8.1f ms  (%.2fx file copy)\n", checked * 1e3, checked / plain);
    std::printf("inflate check, workers:   %8.1f ms  (%.2fx file copy, %u cores)\n", checked_parallel * 1e3,
                checked_parallel / plain, std::thread::hardware_concurrency());
    return 0;
}
