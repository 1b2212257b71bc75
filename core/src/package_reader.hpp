// Opening a package, reading single parts, classifying part names, and the
// manifest of every part with its size and SHA-256 digest.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

// Io when the file cannot be opened (the OS text), Zip when it is no archive.
Result<ZipReader> open_package(const std::string& path);

// Kind of a part by its name: suffix rules (".rels", "vbaProject.bin",
// ".xml") before prefix rules ("ppt/media/", "ppt/embeddings/").
PartKind part_kind(std::string_view name);

// Counts one more written entry and notes a macro project.
void update_package_facts(std::string_view name, PackageFacts& facts);

// The part as UTF-8 text. None when the part is absent or cannot be opened;
// Io when it cannot be read, or "stream did not contain valid UTF-8".
Result<std::optional<std::string>> read_archive_text(const ZipReader& archive, std::string_view name);

// The part's bytes. None only when absent; Zip when it cannot be opened, Io
// when it cannot be read.
Result<std::optional<std::string>> read_archive_bytes(const ZipReader& archive, std::string_view name);

// Every entry with size, digest and kind, sorted by name bytes. The first
// entry that cannot be opened (Zip) or read (Io) fails the whole inventory.
Result<PackageManifest> inspect_archive(const ZipReader& archive, const std::string& path);
Result<PackageManifest> inspect_package(const std::string& path);

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

}  // namespace zandrel
