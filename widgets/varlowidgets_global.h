#pragma once

#include <QtCore/qglobal.h>

#if defined(VARLOWIDGETS_LIBRARY)
#define VARLOWIDGETS_EXPORT Q_DECL_EXPORT
#else
#define VARLOWIDGETS_EXPORT Q_DECL_IMPORT
#endif
