#include "platform/RecursiveLock.h"

#include <pthread.h>

namespace platform {

struct RecursiveLock::State {
    pthread_mutex_t mutex;
};

RecursiveLock::RecursiveLock() : state(new State)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&state->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

RecursiveLock::~RecursiveLock()
{
    pthread_mutex_destroy(&state->mutex);
    delete state;
}

void RecursiveLock::enter()
{
    pthread_mutex_lock(&state->mutex);
}

void RecursiveLock::leave()
{
    pthread_mutex_unlock(&state->mutex);
}

}  // namespace platform
