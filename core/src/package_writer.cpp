#include "package_writer.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <utility>
#include <vector>

#include "output_file.hpp"
#include "package_reader.hpp"
#include "zip_entry_check.hpp"
#include "zip_writer.hpp"

namespace zandrel {
namespace {

bool retimes_entries(WriteMode mode) { return mode == WriteMode::ReEncode || mode == WriteMode::Delete; }

// The input entries whose compressed bytes go out under a fresh header, in order.
std::vector<std::size_t> retimed_entries(const ZipReader& input, const PackagePlan& plan) {
    std::vector<std::size_t> indices;
    if (!retimes_entries(plan.mode)) return indices;
    for (std::size_t index = 0; index < input.entry_count(); ++index) {
        const ZipEntry& entry = input.entry(index);
        if (!entry.is_directory() && !plan.removed.contains(entry.name) && !plan.replaced.contains(entry.name))
            indices.push_back(index);
    }
    return indices;
}

Status write_input_entry(const ZipReader& input, std::size_t index, const PackagePlan& plan,
                         ZipWriter& writer) {
    const ZipEntry& entry = input.entry(index);
    ZANDREL_TRY(OpenedEntry opened, input.open_entry(index));
    NewEntryOptions rewrite{entry.method, 0x0021, 0x0000};

    if (auto replaced = plan.replaced.find(entry.name); replaced != plan.replaced.end())
        return writer.add_entry(entry.name, replaced->second, rewrite);

    const bool recreate_directories =
        plan.mode == WriteMode::PatchAndAppend || plan.mode == WriteMode::ReEncode;
    if (entry.is_directory() && recreate_directories)
        return writer.add_directory(entry.name, rewrite);
    if (entry.is_directory() && plan.mode == WriteMode::Delete)
        return writer.add_entry(entry.name, "", rewrite);

    // verified by the package's entry check before the output is kept
    if (retimes_entries(plan.mode)) return writer.copy_unverified_with_new_timestamp(input, opened, rewrite);
    return writer.copy_raw(input, opened);
}

// Writes the input entries in order; the error of the first entry that fails.
std::optional<std::pair<std::size_t, ZandrelError>> write_input_entries(const ZipReader& input,
                                                                          const PackagePlan& plan,
                                                                          ZipWriter& writer, PackageFacts& facts) {
    for (std::size_t index = 0; index < input.entry_count(); ++index) {
        const std::string& name = input.entry(index).name;
        if (plan.removed.contains(name)) continue;
        update_package_facts(name, facts);
        if (Status written = write_input_entry(input, index, plan, writer); !written)
            return std::pair{index, written.error()};
    }
    return std::nullopt;
}

}  // namespace

Result<PackageFacts> write_package(const ZipReader& input, const std::string& output_path,
                                   const PackagePlan& plan) {
    ZANDREL_CHECK(create_parent_directories(output_path));
    ZANDREL_TRY(OutputFile output, OutputFile::create(output_path));
    ZipWriter writer(output.fd());
    PackageFacts facts;

    // Re-timed entries are copied without inflating them on this thread; the
    // check inflates them alongside and must pass before the output is kept.
    // Of a failed write and a failed check, the earlier entry's error wins,
    // as if each entry had been checked just before it was written.
    const std::vector<std::size_t> checked = retimed_entries(input, plan);
    ParallelEntryCheck check(input, checked);
    const auto write_failure = write_input_entries(input, plan, writer, facts);
    const auto check_failure = check.finish();
    if (check_failure && (!write_failure || checked[check_failure->position] < write_failure->first))
        return check_failure->error;
    if (write_failure) return write_failure->second;

    const NewEntryOptions new_part{};
    for (const auto& [name, content] : plan.appended) {
        update_package_facts(name, facts);
        ZANDREL_CHECK(writer.add_entry(name, content, new_part));
    }
    ZANDREL_CHECK(writer.finish());
    ZANDREL_CHECK(output.commit());
    return facts;
}

Result<PackageFacts> write_package_with_replaced_part(const ZipReader& input,
                                                      const std::string& output_path,
                                                      const std::string& part_name,
                                                      std::string content) {
    PackagePlan plan;
    plan.mode = WriteMode::ReplaceParts;
    plan.replaced.emplace(part_name, std::move(content));
    return write_package(input, output_path, plan);
}

namespace {

Status copy_file_contents(const std::string& input_path, int output_fd) {
    int input_fd = ::open(input_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (input_fd < 0) return ZandrelError::io(std::strerror(errno));
    std::string buffer(1 << 20, '\0');
    Status status;
    for (;;) {
        ssize_t got = ::read(input_fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status = ZandrelError::io(std::strerror(errno));
            break;
        }
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            ssize_t wrote = ::write(output_fd, buffer.data() + done, got - done);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote < 0) {
                ::close(input_fd);
                return ZandrelError::io(std::strerror(errno));
            }
            done += wrote;
        }
    }
    ::close(input_fd);
    return status;
}

}  // namespace

Result<PackageManifest> roundtrip_package(const std::string& input_path,
                                          const std::string& output_path) {
    ZANDREL_CHECK(create_parent_directories(output_path));
    ZANDREL_TRY(OutputFile output, OutputFile::create(output_path));
    ZANDREL_CHECK(copy_file_contents(input_path, output.fd()));
    // the manifest is built before the copy is committed, so a package that
    // cannot be inventoried leaves the output path as it was
    ZANDREL_TRY(PackageManifest manifest, inspect_package(input_path));
    ZANDREL_CHECK(output.commit());
    manifest.path = output_path;
    return manifest;
}

}  // namespace zandrel
