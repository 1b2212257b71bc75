// SHA-256 digests as 64 lower-case hexadecimal digits, whole or fed in pieces.
// Never fails: OpenSSL errors with a valid context only come from running out
// of memory, which aborts as any failed allocation would.
#pragma once

#include <span>
#include <string>
#include <string_view>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace zandrel {

std::string sha256_hex(std::string_view bytes);

class Sha256 {
public:
    Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&&) = delete;
    ~Sha256();

    void update(std::span<const char> bytes);
    // The digest of everything fed so far; the object then starts afresh.
    std::string hex_digest();

private:
    EVP_MD_CTX* context_ = nullptr;
};

}  // namespace zandrel
