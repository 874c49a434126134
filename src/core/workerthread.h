#pragma once

// Threads the program starts itself call WorkerThread::prepare() first. The
// application fills it in with the crash handler's per-thread set-up (its own
// signal stack), which the lower layers that start threads cannot reach.
namespace WorkerThread {

/** Gets the calling thread ready; does nothing until a preparation is set. */
void prepare();
/** What prepare() runs on each new thread (nullptr: nothing). */
void setPreparation(bool (*preparation)());

} // namespace WorkerThread
