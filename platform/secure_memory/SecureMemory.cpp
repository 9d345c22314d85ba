#include "SecureMemory.h"

#include <mutex>
#include <new>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/mman.h>
#include <utility>

namespace vela5::platform {
namespace {

constexpr std::size_t kKeySize = 32;

// The process key and IV, drawn once and kept in locked memory for the life
// of the process.
struct ProcessKey {
    unsigned char bytes[kKeySize + SecureMemory::kBlockSize] {};
    bool ok = false;
};

const ProcessKey& Key()
{
    static ProcessKey* key = [] {
        auto* created = new ProcessKey;
        SecureMemory::Lock(created, sizeof(*created));
        created->ok = RAND_bytes(created->bytes, sizeof(created->bytes)) == 1;
        return created;
    }();
    return *key;
}

bool Transform(void* data, std::size_t size, bool encrypt)
{
    if (data == nullptr || size == 0 || size % SecureMemory::kBlockSize != 0) {
        return false;
    }
    const ProcessKey& key = Key();
    if (!key.ok) {
        return false;
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) {
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(data);
    bool done
        = EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.bytes, key.bytes + kKeySize, encrypt ? 1 : 0)
        == 1;
    done = done && EVP_CIPHER_CTX_set_padding(ctx, 0) == 1;
    // CBC in place: the output of each block only overwrites input already consumed.
    int written = 0;
    int last = 0;
    done = done && EVP_CipherUpdate(ctx, bytes, &written, bytes, static_cast<int>(size)) == 1;
    done = done && EVP_CipherFinal_ex(ctx, bytes + written, &last) == 1;
    done = done && static_cast<std::size_t>(written + last) == size;
    EVP_CIPHER_CTX_free(ctx);
    return done;
}

} // namespace

namespace SecureMemory {

bool Lock(void* data, std::size_t size)
{
    return data != nullptr && size != 0 && mlock(data, size) == 0;
}

void Unlock(void* data, std::size_t size)
{
    if (data != nullptr && size != 0) {
        munlock(data, size);
    }
}

void Wipe(void* data, std::size_t size)
{
    if (data != nullptr && size != 0) {
        OPENSSL_cleanse(data, size);
    }
}

bool Protect(void* data, std::size_t size)
{
    return Transform(data, size, true);
}

bool Unprotect(void* data, std::size_t size)
{
    return Transform(data, size, false);
}

} // namespace SecureMemory

LockedBuffer::LockedBuffer(std::size_t size)
    : m_data(size != 0 ? new unsigned char[size]() : nullptr)
    , m_size(size)
{
    // A refused lock still leaves a usable buffer; it is wiped all the same.
    SecureMemory::Lock(m_data, m_size);
}

LockedBuffer::~LockedBuffer()
{
    Release();
}

LockedBuffer::LockedBuffer(LockedBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

LockedBuffer& LockedBuffer::operator=(LockedBuffer&& other) noexcept
{
    if (this != &other) {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void LockedBuffer::Release()
{
    if (m_data != nullptr) {
        SecureMemory::Wipe(m_data, m_size);
        SecureMemory::Unlock(m_data, m_size);
        delete[] m_data;
    }
    m_data = nullptr;
    m_size = 0;
}

} // namespace vela5::platform
