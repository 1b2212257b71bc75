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

// What becomes of one input entry; the one place that decides it, so the
// entry check and the writing loop always agree on which entries are re-timed.
enum class EntryAction { Skip, Replace, RecreateDirectory, WriteEmpty, Retime, CopyRaw };

EntryAction action_for(const ZipEntry& entry, const PackagePlan& plan) {
    if (plan.removed.contains(entry.name)) return EntryAction::Skip;
    if (plan.replaced.contains(entry.name)) return EntryAction::Replace;
    const bool retimes = plan.mode == WriteMode::ReEncode || plan.mode == WriteMode::Delete;
    if (entry.is_directory() && plan.mode == WriteMode::Delete) return EntryAction::WriteEmpty;
    if (entry.is_directory() && plan.mode != WriteMode::ReplaceParts) return EntryAction::RecreateDirectory;
    return retimes ? EntryAction::Retime : EntryAction::CopyRaw;
}

// The input entries whose compressed bytes go out under a fresh header, in order.
std::vector<std::size_t> retimed_entries(const ZipReader& input, const PackagePlan& plan) {
    std::vector<std::size_t> indices;
    for (std::size_t index = 0; index < input.entry_count(); ++index)
        if (action_for(input.entry(index), plan) == EntryAction::Retime) indices.push_back(index);
    return indices;
}

Status write_input_entry(const ZipReader& input, std::size_t index, EntryAction action, const PackagePlan& plan,
                         ZipWriter& writer) {
    const ZipEntry& entry = input.entry(index);
    ZANDREL_TRY(OpenedEntry opened, input.open_entry(index));
    const NewEntryOptions rewrite{entry.method, 0x0021, 0x0000};
    switch (action) {
        case EntryAction::Replace: return writer.add_entry(entry.name, plan.replaced.find(entry.name)->second, rewrite);
        case EntryAction::RecreateDirectory: return writer.add_directory(entry.name, rewrite);
        case EntryAction::WriteEmpty: return writer.add_entry(entry.name, "", rewrite);
        // verified by the package's entry check before the output is kept
        case EntryAction::Retime: return writer.copy_unverified_with_new_timestamp(input, opened, rewrite);
        case EntryAction::CopyRaw: return writer.copy_raw(input, opened);
        case EntryAction::Skip: break;
    }
    return {};
}

// Writes the input entries in order; the error of the first entry that fails.
std::optional<std::pair<std::size_t, ZandrelError>> write_input_entries(const ZipReader& input,
                                                                          const PackagePlan& plan,
                                                                          ZipWriter& writer, PackageFacts& facts) {
    for (std::size_t index = 0; index < input.entry_count(); ++index) {
        const EntryAction action = action_for(input.entry(index), plan);
        if (action == EntryAction::Skip) continue;
        update_package_facts(input.entry(index).name, facts);
        if (Status written = write_input_entry(input, index, action, plan, writer); !written)
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
