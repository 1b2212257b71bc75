// Output packages are written to a temporary file beside the output path and
// renamed over it only once complete, so a failure never leaves a partial
// package and writing over the input package is safe.
#pragma once

#include <string>

#include "models.hpp"

namespace zandrel {

// Creates the parent directories of `path` (mode 0777 before umask). Io error.
Status create_parent_directories(const std::string& path);

class OutputFile {
public:
    // Creates the temporary file in the output's directory. Io error.
    static Result<OutputFile> create(const std::string& path);

    OutputFile(OutputFile&&) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    ~OutputFile();  // removes the temporary file unless committed

    int fd() const;
    // Flushes, closes and renames the temporary file over the output path. Io.
    Status commit();

private:
    OutputFile(std::string path, std::string temp_path, int fd);
    std::string path_;
    std::string temp_path_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace zandrel
