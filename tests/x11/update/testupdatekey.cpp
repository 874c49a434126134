#include "updatesignature.h"

// Varlo for the update tests: it trusts installers signed with the tests' key
// (installer-test-key.pem beside this file). Linked only into varlo-testkeyed;
// the program that is shipped never trusts this key.
QByteArray UpdateSignature::builtInPublicKey()
{
    return keyFromHex(QByteArrayLiteral("81248c50274918a43c2091f9f35fe9a15a5790086a3944b395b6e902fcfdc5a6"));
}
