#pragma once

#include <QByteArray>
#include <QString>

// Installers are signed by Varlo's makers: a detached Ed25519 signature (the
// raw 64 bytes) over the installer's bytes. Nothing downloaded is started
// unless its signature holds against the public key built into Varlo.
namespace UpdateSignature {

/**
 * The public key built into this program (32 raw bytes), empty when it was
 * built without one: then no installer is ever accepted.
 */
QByteArray builtInPublicKey();

/**
 * Whether signature is the Ed25519 signature of the bytes of the file at
 * path made with the private half of publicKey. False, with reason set,
 * when it is not, or when the file, the signature or the key is unusable.
 */
bool verifyFile(const QString &path, const QByteArray &signature, const QByteArray &publicKey,
                QString *reason);

/** The key from its 64 hex digits; empty for any other text. */
QByteArray keyFromHex(const QByteArray &hex);

} // namespace UpdateSignature
