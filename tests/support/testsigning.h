#pragma once

#include <QByteArray>

#include <openssl/evp.h>

#include <memory>

// Ed25519 keys and signatures made by the tests with OpenSSL, as the makers'
// signing of installers does.
struct TestSigningKey
{
    QByteArray publicKey; // 32 raw bytes
    std::shared_ptr<EVP_PKEY> key;

    static TestSigningKey create()
    {
        EVP_PKEY *raw = nullptr;
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
            EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
        if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1)
            return {};
        TestSigningKey pair{QByteArray(32, '\0'), std::shared_ptr<EVP_PKEY>(raw, EVP_PKEY_free)};
        size_t length = 32;
        EVP_PKEY_get_raw_public_key(raw, reinterpret_cast<uchar *>(pair.publicKey.data()), &length);
        return pair;
    }

    /** The raw 64-byte signature of message. */
    QByteArray sign(const QByteArray &message) const
    {
        QByteArray signature(64, '\0');
        size_t length = 64;
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1
            || EVP_DigestSign(ctx.get(), reinterpret_cast<uchar *>(signature.data()), &length,
                              reinterpret_cast<const uchar *>(message.constData()), size_t(message.size()))
                   != 1)
            return {};
        return signature;
    }
};
