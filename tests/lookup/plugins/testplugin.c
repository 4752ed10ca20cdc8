/* Plug-ins with particular habits for the tests, one module per habit:
 * UNDERSCORE_ONLY  exports only _TmLookupNumber and _TmModifyNumber;
 * EMPTY_RESULT     reports success with an empty buffer;
 * BLOCKING         stays inside TmLookupNumber until released (10 s at most);
 * NO_EXPORTS       exports neither function.
 * Each counts its calls, tells whether a thread is inside and how many were inside at once,
 * and appends each number it is called with to the file TEST_PLUGIN_LOG names. */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define EXPORT __attribute__((visibility("default")))

static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t released = PTHREAD_COND_INITIALIZER;
static int calls;
static int inside;
static int mostInside;
static int release;

EXPORT int TestPluginCalls(void)
{
    pthread_mutex_lock(&mutex);
    const int n = calls;
    pthread_mutex_unlock(&mutex);
    return n;
}

EXPORT int TestPluginInside(void)
{
    pthread_mutex_lock(&mutex);
    const int n = inside;
    pthread_mutex_unlock(&mutex);
    return n;
}

EXPORT int TestPluginMostInside(void)
{
    pthread_mutex_lock(&mutex);
    const int n = mostInside;
    pthread_mutex_unlock(&mutex);
    return n;
}

/* Blocks the calls from now on, until the next release. */
EXPORT void TestPluginHold(void)
{
    pthread_mutex_lock(&mutex);
    release = 0;
    pthread_mutex_unlock(&mutex);
}

EXPORT void TestPluginRelease(void)
{
    pthread_mutex_lock(&mutex);
    release = 1;
    pthread_cond_broadcast(&released);
    pthread_mutex_unlock(&mutex);
}

#ifndef NO_EXPORTS
static int32_t answer(const char *format, const char *number, char *result, int32_t size)
{
    const char *log = getenv("TEST_PLUGIN_LOG");
    FILE *file = log ? fopen(log, "a") : NULL;
    if (file) {
        fprintf(file, "%s\n", number);
        fclose(file);
    }
    pthread_mutex_lock(&mutex);
    ++calls;
    if (++inside > mostInside) mostInside = inside;
#ifdef BLOCKING
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 10;
    while (!release && pthread_cond_timedwait(&released, &mutex, &until) == 0) {
    }
#endif
    --inside;
    pthread_mutex_unlock(&mutex);
#ifdef EMPTY_RESULT
    (void)format;
    (void)number;
    (void)size;
    result[0] = '\0';
#else
    snprintf(result, (size_t)size, format, number);
#endif
    return 1;
}

#ifdef UNDERSCORE_ONLY
#define LOOKUP _TmLookupNumber
#define MODIFY _TmModifyNumber
#else
#define LOOKUP TmLookupNumber
#define MODIFY TmModifyNumber
#endif

EXPORT int32_t LOOKUP(const char *number, char *result, int32_t size)
{
    return answer("Found %s", number, result, size);
}

EXPORT int32_t MODIFY(const char *number, char *result, int32_t size)
{
    return answer("9%s", number, result, size);
}
#endif
