// AES-256-GCM sealing of object secrets and of the token key itself.
#include "TokenKey.h"

#include "CkError.h"
#include "platform/openssl/OpenSslPtr.h"
#include "platform/secure_memory/SecretBytes.h"

#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

using namespace vela5::platform;

namespace velatoken {

namespace {

constexpr unsigned char kVersion = 1;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;

int Length(size_t size)
{
    return static_cast<int>(size);
}

} // namespace

Blob SealWith(const unsigned char* key, const Blob& plain, const Blob& context)
{
    Blob sealed(TokenKey::kOverhead + plain.size());
    sealed[0] = kVersion;
    unsigned char* nonce = sealed.data() + 1;
    unsigned char* body = nonce + kNonceSize;
    unsigned char* tag = body + plain.size();
    Require(RAND_bytes(nonce, Length(kNonceSize)) == 1, CKR_GENERAL_ERROR);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int written = 0;
    bool done = ctx != nullptr && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nonce) == 1;
    done = done
        && (context.empty()
            || EVP_EncryptUpdate(ctx.get(), nullptr, &written, context.data(), Length(context.size())) == 1);
    done = done
        && (plain.empty()
            || EVP_EncryptUpdate(ctx.get(), body, &written, plain.data(), Length(plain.size())) == 1);
    done = done && EVP_EncryptFinal_ex(ctx.get(), body + plain.size(), &written) == 1;
    done = done && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, Length(kTagSize), tag) == 1;
    Require(done, CKR_GENERAL_ERROR);
    return sealed;
}

std::optional<Blob> OpenWith(const unsigned char* key, const Blob& sealed, const Blob& context)
{
    if (sealed.size() < TokenKey::kOverhead || sealed[0] != kVersion) {
        return std::nullopt;
    }
    const unsigned char* nonce = sealed.data() + 1;
    const unsigned char* body = nonce + kNonceSize;
    const size_t bodySize = sealed.size() - TokenKey::kOverhead;
    Blob tag(body + bodySize, body + bodySize + kTagSize);
    Blob plain(bodySize);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int written = 0;
    bool done = ctx != nullptr && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nonce) == 1;
    done = done
        && (context.empty()
            || EVP_DecryptUpdate(ctx.get(), nullptr, &written, context.data(), Length(context.size())) == 1);
    done = done
        && (bodySize == 0
            || EVP_DecryptUpdate(ctx.get(), plain.data(), &written, body, Length(bodySize)) == 1);
    done = done && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, Length(kTagSize), tag.data()) == 1;
    // The tag is checked here: nothing of a value that fails it is kept.
    done = done && EVP_DecryptFinal_ex(ctx.get(), plain.data() + bodySize, &written) == 1;
    if (!done) {
        OPENSSL_cleanse(plain.data(), plain.size());
        return std::nullopt;
    }
    return plain;
}

TokenKey::TokenKey()
    : m_key(kSize)
{
}

TokenKeyPtr TokenKey::Generate()
{
    std::shared_ptr<TokenKey> key(new TokenKey());
    Require(RAND_bytes(key->m_key.Data(), Length(kSize)) == 1, CKR_GENERAL_ERROR);
    return key;
}

TokenKeyPtr TokenKey::Unwrap(const Blob& wrapped, const LockedBuffer& wrappingKey, const Blob& context)
{
    if (wrappingKey.Size() != kSize) {
        return nullptr;
    }
    std::optional<Blob> opened = OpenWith(wrappingKey.Data(), wrapped, context);
    if (!opened) {
        return nullptr;
    }
    const SecretBytes plain(std::move(*opened));
    if (plain.Size() != kSize) {
        return nullptr;
    }
    std::shared_ptr<TokenKey> key(new TokenKey());
    std::copy(plain.Bytes().begin(), plain.Bytes().end(), key->m_key.Data());
    return key;
}

Blob TokenKey::Seal(const Blob& plain, const Blob& context) const
{
    return SealWith(m_key.Data(), plain, context);
}

Blob TokenKey::Open(const Blob& sealed, const Blob& context) const
{
    std::optional<Blob> plain = OpenWith(m_key.Data(), sealed, context);
    if (!plain) {
        throw CkError(CKR_DEVICE_ERROR, "damaged token state: a sealed value does not open");
    }
    return std::move(*plain);
}

Blob TokenKey::Wrap(const LockedBuffer& wrappingKey, const Blob& context) const
{
    Require(wrappingKey.Size() == kSize, CKR_GENERAL_ERROR);
    const SecretBytes plain(m_key.Data(), kSize);
    return SealWith(wrappingKey.Data(), plain.Bytes(), context);
}

} // namespace velatoken
