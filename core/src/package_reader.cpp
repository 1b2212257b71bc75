#include "package_reader.hpp"

#include <algorithm>
#include <cstring>

#include "sha256.hpp"

namespace zandrel {
namespace {

bool ends_with(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }
bool starts_with(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }

}  // namespace

Result<ZipReader> open_package(const std::string& path) { return ZipReader::open(path); }

PartKind part_kind(std::string_view name) {
    if (ends_with(name, ".rels")) return PartKind::Relationships;
    if (ends_with(name, "vbaProject.bin")) return PartKind::Vba;
    if (ends_with(name, ".xml")) return PartKind::Xml;
    if (starts_with(name, "ppt/media/")) return PartKind::Media;
    if (starts_with(name, "ppt/embeddings/")) return PartKind::Embedding;
    return PartKind::Binary;
}

void update_package_facts(std::string_view name, PackageFacts& facts) {
    ++facts.part_count;
    if (part_kind(name) == PartKind::Vba) facts.has_vba = true;
}

bool is_valid_utf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // ASCII runs, eight bytes at a time
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if (word & 0x8080808080808080ull) break;
            p += 8;
        }
        if (p == end) break;
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t length;
        std::uint32_t code;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < length) return false;
        for (std::size_t i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        // overlong forms, surrogates and values past U+10FFFF are not UTF-8
        static constexpr std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += length;
    }
    return true;
}

Result<std::optional<std::string>> read_archive_text(const ZipReader& archive, std::string_view name) {
    auto index = archive.find(name);
    if (!index) return std::optional<std::string>{};
    auto opened = archive.open_entry(*index);
    if (!opened) return std::optional<std::string>{};
    ZANDREL_TRY(std::string content, archive.read_entry(*opened));
    if (!is_valid_utf8(content)) return ZandrelError::io("stream did not contain valid UTF-8");
    return std::optional<std::string>{std::move(content)};
}

Result<std::optional<std::string>> read_archive_bytes(const ZipReader& archive, std::string_view name) {
    auto index = archive.find(name);
    if (!index) return std::optional<std::string>{};
    ZANDREL_TRY(OpenedEntry opened, archive.open_entry(*index));
    ZANDREL_TRY(std::string content, archive.read_entry(opened));
    return std::optional<std::string>{std::move(content)};
}

Result<PackageManifest> inspect_archive(const ZipReader& archive, const std::string& path) {
    PackageManifest manifest{path, {}};
    manifest.parts.reserve(archive.entry_count());
    for (std::size_t index = 0; index < archive.entry_count(); ++index) {
        ZANDREL_TRY(OpenedEntry opened, archive.open_entry(index));
        // streamed through the digest so memory stays bounded by one chunk
        Sha256 digest;
        std::uint64_t size = 0;
        ZANDREL_CHECK(archive.stream_entry(opened, [&](std::span<const char> chunk) {
            digest.update(chunk);
            size += chunk.size();
        }));
        const std::string& name = archive.entry(index).name;
        manifest.parts.push_back(PartRecord{name, size, digest.hex_digest(), part_kind(name)});
    }
    std::stable_sort(manifest.parts.begin(), manifest.parts.end(),
                     [](const PartRecord& a, const PartRecord& b) { return a.name < b.name; });
    return manifest;
}

Result<PackageManifest> inspect_package(const std::string& path) {
    ZANDREL_TRY(ZipReader archive, open_package(path));
    return inspect_archive(archive, path);
}

}  // namespace zandrel
