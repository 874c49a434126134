#include "updatesignature.h"

#include <QFile>

#include <openssl/evp.h>

#include <cctype>
#include <memory>

namespace UpdateSignature {

namespace {
constexpr int kKeyBytes = 32;
constexpr int kSignatureBytes = 64;

struct PkeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
} // namespace

QByteArray keyFromHex(const QByteArray &hex)
{
    if (hex.size() != 2 * kKeyBytes)
        return {};
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
    }
    return QByteArray::fromHex(hex);
}

bool verifyFile(const QString &path, const QByteArray &signature, const QByteArray &publicKey,
                QString *reason)
{
    if (publicKey.size() != kKeyBytes) {
        *reason = QStringLiteral("this program has no key to check installers with");
        return false;
    }
    if (signature.size() != kSignatureBytes) {
        *reason = QStringLiteral("the signature has %1 bytes, not %2").arg(signature.size()).arg(kSignatureBytes);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    // Ed25519 signs the message as a whole: the file is mapped, not copied.
    const qint64 size = file.size();
    const uchar *bytes = size > 0 ? file.map(0, size) : nullptr;
    QByteArray copy;
    if (size > 0 && !bytes) {
        copy = file.readAll();
        if (copy.size() != size) {
            *reason = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
            return false;
        }
        bytes = reinterpret_cast<const uchar *>(copy.constData());
    }
    static const uchar empty = 0;
    if (size == 0)
        bytes = &empty;

    const std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const uchar *>(publicKey.constData()), kKeyBytes));
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        *reason = QStringLiteral("the signature check could not be set up");
        return false;
    }
    const int verdict = EVP_DigestVerify(ctx.get(), reinterpret_cast<const uchar *>(signature.constData()),
                                         size_t(signature.size()), bytes, size_t(size));
    if (verdict != 1) {
        *reason = QStringLiteral("the signature does not match the file");
        return false;
    }
    return true;
}

} // namespace UpdateSignature
