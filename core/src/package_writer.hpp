// Writing an output package in one pass from an input package and a plan of
// what changes. Entries keep their input order; new parts come last. The
// output is built in a temporary file beside the output path and renamed over
// it only when complete, so a failure leaves whatever was there untouched.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

enum class WriteMode {
    // Untouched entries (directory entries too) are copied raw.
    ReplaceParts,
    // Directory entries are re-created; untouched file entries are copied raw.
    PatchAndAppend,
    // Directory entries are re-created; every untouched file entry gets the
    // 1980-01-01 timestamp, its compressed bytes kept (checked by inflating on
    // worker threads while they are copied, never recompressed).
    ReEncode,
    // As ReEncode, but directory entries are written as empty entries and the
    // removed parts are skipped.
    Delete,
};

struct PackagePlan {
    WriteMode mode = WriteMode::ReplaceParts;
    // Parts written anew in place, keeping their input compression method.
    std::map<std::string, std::string, std::less<>> replaced;
    // Input entries left out of the output (and not counted).
    std::set<std::string, std::less<>> removed;
    // New parts appended after the input entries, Deflate, in this order.
    std::vector<std::pair<std::string, std::string>> appended;
};

// Errors: Io for directories, the output file and entry data; Zip for opening
// an input entry, starting or copying an output entry (a name written twice)
// and finishing the archive.
Result<PackageFacts> write_package(const ZipReader& input, const std::string& output_path,
                                   const PackagePlan& plan);

// Raw copy of the input with one part's content replaced; a part name that is
// not in the package changes nothing.
Result<PackageFacts> write_package_with_replaced_part(const ZipReader& input,
                                                      const std::string& output_path,
                                                      const std::string& part_name,
                                                      std::string content);

// Byte-for-byte copy of the input file, and the input's manifest reporting the
// output path.
Result<PackageManifest> roundtrip_package(const std::string& input_path,
                                          const std::string& output_path);

}  // namespace zandrel
