#include "platform/files/Sha256.h"

#include <array>
#include <cstdio>
#include <memory>

#include <windows.h>
#include <bcrypt.h>

#include "platform/files/Files.h"

namespace platform {

namespace {

// BCrypt is no Known DLL: it is loaded from System32 by name, never from
// beside the program, and its functions are looked up once.
struct BCrypt {
    using Open = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
    using Close = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
    using Create = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                                     ULONG, ULONG);
    using Hash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using Finish = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using Destroy = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);

    BCrypt() {
        module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) {
            return;
        }
        open = Find<Open>("BCryptOpenAlgorithmProvider");
        close = Find<Close>("BCryptCloseAlgorithmProvider");
        create = Find<Create>("BCryptCreateHash");
        hash = Find<Hash>("BCryptHashData");
        finish = Find<Finish>("BCryptFinishHash");
        destroy = Find<Destroy>("BCryptDestroyHash");
    }
    template <class Function>
    Function Find(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool Usable() const { return open && close && create && hash && finish && destroy; }

    HMODULE module = nullptr;
    Open open = nullptr;
    Close close = nullptr;
    Create create = nullptr;
    Hash hash = nullptr;
    Finish finish = nullptr;
    Destroy destroy = nullptr;
};

const BCrypt& Library() {
    static const BCrypt library;
    return library;
}

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::optional<std::string> Sha256OfFile(const std::string& path) {
    const BCrypt& bcrypt = Library();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(path), std::fclose);
    if (!bcrypt.Usable() || !file) {
        return std::nullopt;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(bcrypt.open(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::nullopt;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::array<unsigned char, 32> digest{};
    bool ok = Succeeded(bcrypt.create(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    std::array<unsigned char, 1 << 16> buffer;
    for (std::size_t n; ok && (n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0;) {
        ok = Succeeded(bcrypt.hash(hash, buffer.data(), static_cast<ULONG>(n), 0));
    }
    ok = ok && !std::ferror(file.get()) &&
         Succeeded(bcrypt.finish(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    if (hash != nullptr) {
        bcrypt.destroy(hash);
    }
    bcrypt.close(algorithm, 0);
    if (!ok) {
        return std::nullopt;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

}  // namespace platform
