#ifndef QUOTELOOM_QUEUE_OPERATION_THREAD_H
#define QUOTELOOM_QUEUE_OPERATION_THREAD_H

#include <pthread.h>

#include <cstddef>

// Runs fn(arg) on a new thread with a small stack and waits for it to end. When the system refuses
// the thread, fn runs on the calling thread instead, so the operation is never lost. Any thread.
void RunOnOperationThread(void (*fn)(void*), void* arg);

// The stack size requested: 4096 bytes, or the system's minimum when that is larger.
std::size_t OperationThreadStackSize();

// Replaces pthread_create, so tests can make the system refuse the thread; null restores it.
using ThreadCreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
void SetThreadCreateForTesting(ThreadCreateFn create);

#endif
