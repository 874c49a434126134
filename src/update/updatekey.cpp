#include "updatesignature.h"

// Compiled once for the program, with the makers' key, and once for the tests
// with a key of their own: the program never trusts the tests' key.
QByteArray UpdateSignature::builtInPublicKey()
{
    return keyFromHex(QByteArrayLiteral(VARLO_UPDATE_PUBLIC_KEY));
}
