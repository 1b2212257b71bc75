// Test helper: breaks the local header of one entry of an archive on disk so
// that opening that entry fails while the central directory stays readable.
#pragma once

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "zip_reader.hpp"

namespace zandrel::testing {

inline void damage_local_header(const std::string& path, const std::string& entry_name) {
    std::uint64_t offset = 0;
    {
        auto reader = ZipReader::open(path);
        ASSERT_TRUE(reader.ok()) << reader.error().display();
        auto index = reader->find(entry_name);
        ASSERT_TRUE(index.has_value()) << entry_name;
        offset = reader->entry(*index).local_header_offset;
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write("XXXX", 4);  // the local header signature
    ASSERT_TRUE(file.good());
}

}  // namespace zandrel::testing
