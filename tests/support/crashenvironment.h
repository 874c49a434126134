#pragma once

#include <QProcessEnvironment>

// For a child that is meant to crash: in a sanitizer build the sanitizers
// would catch the fault themselves and exit quietly. Told to leave the signals
// alone and to abort on what they find, they hand every fault to our crash
// handler as on a user's machine. Without sanitizers the settings do nothing.
inline void letTheCrashHandlerSeeFaults(QProcessEnvironment &env)
{
    QString options = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!options.isEmpty())
        options += QLatin1Char(':');
    options += QStringLiteral("abort_on_error=1:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                              "handle_sigill=0:handle_abort=0:detect_leaks=0:"
                              // The fault library is preloaded ahead of the runtime.
                              "verify_asan_link_order=0");
    env.insert(QStringLiteral("ASAN_OPTIONS"), options);
}
