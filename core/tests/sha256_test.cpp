#include <gtest/gtest.h>

#include "sha256.hpp"

namespace zandrel {
namespace {

TEST(Sha256, KnownDigests) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string("\0\xff", 2), "06eb7d6a69ee19e5fbdf749018d3d2abfa04bcbd1365db312eb86dc7169389b8"},
    };
    for (const auto& [input, digest] : cases) {
        SCOPED_TRACE(input.substr(0, 20));
        EXPECT_EQ(sha256_hex(input), digest);
    }
}

TEST(Sha256, PiecesGiveTheWholeDigestAndTheObjectStartsAfresh) {
    std::string input;
    for (int i = 0; i < 300; ++i) input.push_back(static_cast<char>(i * 37));
    const std::string whole = sha256_hex(input);
    Sha256 digest;
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        digest.update(std::span<const char>(input.data(), cut));
        digest.update(std::span<const char>(input.data() + cut, input.size() - cut));
        ASSERT_EQ(digest.hex_digest(), whole) << "cut at " << cut;
    }
    EXPECT_EQ(digest.hex_digest(), sha256_hex(""));
}

}  // namespace
}  // namespace zandrel
