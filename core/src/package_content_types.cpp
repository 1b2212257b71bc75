#include "package_content_types.hpp"

#include <array>
#include <utility>

#include "package_reader.hpp"
#include "xml_tag_scan.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

constexpr std::string_view types_closing = "</Types>";

bool declares(std::string_view content_types, std::string_view attribute, std::string_view value) {
    auto probe = [&](std::string_view written) {
        std::string pattern(attribute);
        pattern.append("=\"");
        pattern.append(written);
        pattern.push_back('"');
        return content_types.find(pattern) != std::string_view::npos;
    };
    if (probe(value)) return true;
    std::string escaped = xml_attr(value);
    return escaped != value && probe(escaped);
}

std::string content_type_element(std::string_view element, std::string_view key_attribute,
                                 std::string_view key, std::string_view content_type) {
    std::string out = "<";
    out.append(element);
    out.push_back(' ');
    out.append(key_attribute);
    out.append("=\"");
    out.append(key);
    out.append("\" ContentType=\"");
    out.append(content_type);
    out.append("\"/>");
    return out;
}

Result<std::string> insert_before_types_end(std::string_view content_types, std::string_view element) {
    std::size_t at = content_types.rfind(types_closing);
    if (at == std::string_view::npos)
        return ZandrelError::invalid_input("[Content_Types].xml is missing </Types>");
    std::string out(content_types.substr(0, at));
    out.append(element);
    out.append(content_types.substr(at));
    return out;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The last named component of a path: empty and "." components are
// skipped; none when the path has no such component or ends in "..".
std::optional<std::string_view> file_name(std::string_view path) {
    std::optional<std::string_view> last;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        std::string_view piece = path.substr(start, end - start);
        if (!piece.empty() && piece != ".") last = piece;
        start = end + 1;
    }
    if (last == "..") return std::nullopt;
    return last;
}

Result<std::string> first_free_name(const ZipReader& archive, std::string_view prefix, std::string_view suffix) {
    ZANDREL_TRY(auto names, list_part_names(archive));
    PartNameSet used(names.begin(), names.end());
    // one of the first names.size() + 1 numbers is always free
    for (std::uint64_t n = 1;; ++n) {
        std::string name = std::string(prefix) + std::to_string(n) + std::string(suffix);
        if (!used.contains(name)) return name;
    }
}

}  // namespace

std::optional<std::string> find_content_type_override(std::string_view content_types, std::string_view part_name) {
    std::string key = part_name.starts_with('/') ? std::string() : std::string("/");
    key.append(part_name);
    XmlTrimmingReader reader(content_types);
    while (true) {
        auto event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) return std::nullopt;
        if (!event->is_element_start() || event->local_name() != "Override") continue;
        std::string name;
        std::string type;
        auto attributes = event->attribute_iterator();
        while (auto item = attributes.next()) {
            if (!*item) continue;
            std::string_view attribute = local_name_of(item->value().key);
            if (attribute == "PartName")
                name = unescape_attribute_or_empty(item->value().raw_value);
            else if (attribute == "ContentType")
                type = unescape_attribute_or_empty(item->value().raw_value);
        }
        if (name == key) return type;
    }
}

Result<std::string> ensure_default_content_type(std::string_view content_types, std::string_view extension,
                                                std::string_view content_type) {
    if (declares(content_types, "Extension", extension)) return std::string(content_types);
    return insert_before_types_end(
        content_types, content_type_element("Default", "Extension", xml_attr(extension), xml_attr(content_type)));
}

Result<std::string> ensure_content_type_override(std::string_view content_types, std::string_view part_name,
                                                 std::string_view content_type) {
    if (declares(content_types, "PartName", part_name)) return std::string(content_types);
    return insert_before_types_end(
        content_types, content_type_element("Override", "PartName", xml_attr(part_name), xml_attr(content_type)));
}

Result<std::string> append_content_type_override(std::string_view content_types, std::string_view part_name,
                                                 std::string_view content_type) {
    return insert_before(content_types, types_closing,
                         content_type_element("Override", "PartName", part_name, content_type));
}

Result<std::string> media_extension(std::string_view path, std::string_view kind) {
    auto name = file_name(path);
    std::size_t dot = name ? name->rfind('.') : std::string_view::npos;
    if (dot == std::string_view::npos || dot == 0 || !is_valid_utf8(name->substr(dot + 1)))
        return ZandrelError::invalid_input(std::string(kind) + " path has no extension: " + std::string(path));
    return ascii_lower(name->substr(dot + 1));
}

Result<std::string> image_extension(std::string_view path) {
    ZANDREL_TRY(std::string extension, media_extension(path, "image"));
    if (extension == "jpeg" || extension == "jfif" || extension == "jpe") return std::string("jpg");
    if (extension == "tif") return std::string("tiff");
    return extension;
}

Result<std::string> image_content_type(std::string_view extension) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> types = {{
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"bmp", "image/bmp"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
    }};
    for (const auto& [known, type] : types)
        if (extension == known) return std::string(type);
    return ZandrelError::invalid_input("unsupported image extension: " + std::string(extension));
}

Result<std::vector<std::string>> list_part_names(const ZipReader& archive) {
    ZANDREL_CHECK(archive.open_every_entry());
    std::vector<std::string> names;
    names.reserve(archive.entry_count());
    for (std::size_t i = 0; i < archive.entry_count(); ++i) names.push_back(archive.entry(i).name);
    return names;
}

Result<std::string> next_numbered_media_part(const ZipReader& archive, std::string_view prefix,
                                             std::string_view extension) {
    return first_free_name(archive, std::string("ppt/media/").append(prefix), std::string(".").append(extension));
}

Result<std::string> next_embedding_part(const ZipReader& archive) {
    return first_free_name(archive, "ppt/embeddings/oleObject", ".bin");
}

std::string next_free_numbered_part(PartNameSet& used_names, std::string_view model) {
    std::size_t slash = model.rfind('/');
    std::string_view folder = slash == std::string_view::npos ? std::string_view() : model.substr(0, slash + 1);
    std::string_view file = slash == std::string_view::npos ? model : model.substr(slash + 1);
    std::size_t dot = file.rfind('.');
    std::string_view stem = dot == std::string_view::npos ? file : file.substr(0, dot);
    std::string_view extension = dot == std::string_view::npos ? std::string_view() : file.substr(dot);
    while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9') stem.remove_suffix(1);
    // one of the first used_names.size() + 1 numbers is always free
    for (std::uint64_t n = 1;; ++n) {
        std::string name = std::string(folder) + std::string(stem) + std::to_string(n) + std::string(extension);
        if (used_names.insert(name).second) return name;
    }
}

}  // namespace zandrel
