// Loaded into a program under test with LD_PRELOAD. When VARLO_FAULT_DIR names
// a folder, a thread of its own waits until a file appears there and then
// commits the fault the file is named after: "null-write" or "double-free".
// The program itself carries no trigger.

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

// The checks of a sanitizer build would stop the null write before it faults.
__attribute__((no_sanitize("undefined"))) void commit(const std::string &fault)
{
    if (fault == "null-write") {
        volatile int *volatile nowhere = nullptr;
        *nowhere = 1;
    } else if (fault == "double-free") {
        // Too large for the per-thread cache: glibc notices the second free
        // while it holds the arena lock.
        char *volatile block = static_cast<char *>(std::malloc(2000));
        void *volatile neighbour = std::malloc(2000);
        (void)neighbour;
        std::free(block);
        std::free(block);
    }
}

void waitForTrigger(const std::string &dir)
{
    const int fd = ::inotify_init1(IN_CLOEXEC);
    if (fd < 0)
        return;
    if (::inotify_add_watch(fd, dir.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
        ::close(fd);
        return;
    }
    for (;;) {
        // Looked for after the watch is set, so a file made meanwhile is not missed.
        for (const char *fault : {"null-write", "double-free"}) {
            if (::access((dir + '/' + fault).c_str(), F_OK) == 0)
                commit(fault);
        }
        char events[4096];
        if (::read(fd, events, sizeof(events)) < 0 && errno != EINTR)
            return;
    }
}

__attribute__((constructor)) void startWatching()
{
    const char *dir = std::getenv("VARLO_FAULT_DIR");
    if (!dir || !*dir)
        return;
    const std::string folder(dir);
    // Programs started from here on (the crash reporter among them) stay clean.
    ::unsetenv("VARLO_FAULT_DIR");
    ::unsetenv("LD_PRELOAD");
    std::thread(waitForTrigger, folder).detach();
}

} // namespace
