#include "platform/files/Sha256.h"

#include <array>
#include <cstdio>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "platform/files/Files.h"

namespace platform {

std::optional<std::string> Sha256OfFile(const std::string& path) {
    // The digest needs no configuration: the system's OpenSSL configuration
    // file is neither read nor obeyed (it costs more than hashing an image).
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(path), std::fclose);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    AdviseSequentialReading(file.get());
    std::array<unsigned char, 1 << 16> buffer;
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0;) {
        if (EVP_DigestUpdate(context.get(), buffer.data(), n) != 1) {
            return std::nullopt;
        }
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (std::ferror(file.get()) || EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return std::nullopt;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
    }
    return hex;
}

}  // namespace platform
