#include "varlowidgets_global.h"

// Lets the program check at start that it runs with the library it was built against.
extern "C" VARLOWIDGETS_EXPORT const char *varlowidgets_version()
{
    return VARLO_WIDGETS_VERSION;
}
