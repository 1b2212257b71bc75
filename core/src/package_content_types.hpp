// The content-type map "[Content_Types].xml" (lookups and text edits), the
// extensions and media types of pictures and movies, and the numbering of new
// part names.
//
// Part names in `PartName` carry a leading "/" (/ppt/slides/slide4.xml);
// callers add it. New elements are written as
// `<Default Extension=".." ContentType=".."/>` and
// `<Override PartName=".." ContentType=".."/>` right before the last
// "</Types>", with no whitespace around them.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

inline constexpr std::string_view content_types_part = "[Content_Types].xml";

// The ContentType of the first Override (any prefix) whose PartName equals
// `part_name` with a leading "/" added when missing (case-sensitive); "" when
// it has no ContentType. None when there is no such Override or the XML is
// malformed before one is found.
std::optional<std::string> find_content_type_override(std::string_view content_types, std::string_view part_name);

// Adds a Default for `extension` unless the text already holds
// `Extension="{extension}"`, as given or escaped with `xml_attr` (the type
// declared for it is not compared; the match is case-sensitive, so "PNG" does
// not cover "png"). Values escaped with `xml_attr`.
// InvalidInput "[Content_Types].xml is missing </Types>".
Result<std::string> ensure_default_content_type(std::string_view content_types, std::string_view extension,
                                                std::string_view content_type);

// Adds an Override unless the text already holds `PartName="{part_name}"`, as
// given or escaped. Values escaped with `xml_attr`.
// InvalidInput "[Content_Types].xml is missing </Types>".
Result<std::string> ensure_content_type_override(std::string_view content_types, std::string_view part_name,
                                                 std::string_view content_type);

// Adds an Override without looking for an existing one, values written as
// given, through `insert_before`: XmlText "expected closing marker </Types>".
Result<std::string> append_content_type_override(std::string_view content_types, std::string_view part_name,
                                                 std::string_view content_type);

// The extension of the path's last component (text after its last ".", when
// that "." is not the component's first character; "photo." has the empty
// extension) with A-Z lowered. InvalidInput "{kind} path has no extension:
// {path}" when there is none or it is not UTF-8.
Result<std::string> media_extension(std::string_view path, std::string_view kind);

// `media_extension` with the kind "image", then "jpeg", "jfif", "jpe" become
// "jpg" and "tif" becomes "tiff".
Result<std::string> image_extension(std::string_view path);

// The media type of a picture extension (png, jpg, jpeg, gif, bmp, tif,
// tiff). InvalidInput "unsupported image extension: {extension}".
Result<std::string> image_content_type(std::string_view extension);

// The name of every entry in central-directory order, each entry opened
// once (its local header checked, no data read). Zip when one cannot be
// opened.
Result<std::vector<std::string>> list_part_names(const ZipReader& archive);

// "ppt/media/{prefix}{n}.{extension}" with the lowest n from 1 that no entry
// of the archive has. Zip when an entry cannot be opened.
Result<std::string> next_numbered_media_part(const ZipReader& archive, std::string_view prefix,
                                             std::string_view extension);

// "ppt/embeddings/oleObject{n}.bin" chosen the same way.
Result<std::string> next_embedding_part(const ZipReader& archive);

using PartNameSet = std::set<std::string, std::less<>>;

// A new name shaped like `model` (its folder, its stem without trailing
// digits, a number n from 1, its extension) that is not in `used_names`; the
// name is added to the set, so repeated calls with the same set never
// collide. Cannot run out: at most `used_names.size() + 1` numbers are tried.
std::string next_free_numbered_part(PartNameSet& used_names, std::string_view model);

}  // namespace zandrel
