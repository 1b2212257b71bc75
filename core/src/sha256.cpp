#include "sha256.hpp"

#include <cstdlib>
#include <utility>

#include <openssl/evp.h>

namespace zandrel {

namespace {

void start_digest(EVP_MD_CTX* context) {
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) std::abort();
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    Sha256 digest;
    digest.update(std::span<const char>(bytes.data(), bytes.size()));
    return digest.hex_digest();
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) { start_digest(context_); }

Sha256::Sha256(Sha256&& other) noexcept : context_(std::exchange(other.context_, nullptr)) {}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::update(std::span<const char> bytes) {
    if (EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1) std::abort();
}

std::string Sha256::hex_digest() {
    static constexpr char digits[] = "0123456789abcdef";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_, digest, &size) != 1) std::abort();
    start_digest(context_);
    std::string hex;
    hex.reserve(2 * size);
    for (unsigned int i = 0; i < size; ++i) {
        hex.push_back(digits[digest[i] >> 4]);
        hex.push_back(digits[digest[i] & 0x0f]);
    }
    return hex;
}

}  // namespace zandrel
