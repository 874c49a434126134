#include "workerthread.h"

#include <atomic>

namespace {
std::atomic<bool (*)()> g_preparation{nullptr};
}

namespace WorkerThread {

void prepare()
{
    if (bool (*preparation)() = g_preparation.load())
        preparation();
}

void setPreparation(bool (*preparation)())
{
    g_preparation = preparation;
}

} // namespace WorkerThread
