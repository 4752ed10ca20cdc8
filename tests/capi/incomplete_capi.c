/* Small CAPI libraries for the loading cases: one that says it is installed but lacks
 * the other operations; (with CAPI_COMPLETE) one that has all six and never registers;
 * (with CAPI_STUCK) one that registers and whose wait ignores its time-out and blocks until
 * capi_stuck_release() is called, as a driver that hangs does. */
#define EXPORT __attribute__((visibility("default")))

EXPORT unsigned capi20_isinstalled(void)
{
    return 0;
}

#ifdef CAPI_COMPLETE
struct timeval;
EXPORT unsigned capi20_register(unsigned a, unsigned b, unsigned c, unsigned *appl)
{
    (void)a, (void)b, (void)c, (void)appl;
    return 0x1009;
}
EXPORT unsigned capi20_release(unsigned appl)
{
    (void)appl;
    return 0x1101;
}
EXPORT unsigned capi20_put_message(unsigned appl, unsigned char *message)
{
    (void)appl, (void)message;
    return 0x1101;
}
EXPORT unsigned capi20_get_message(unsigned appl, unsigned char **message)
{
    (void)appl, (void)message;
    return 0x1101;
}
EXPORT unsigned capi20_waitformessage(unsigned appl, struct timeval *timeout)
{
    (void)appl, (void)timeout;
    return 0x1101;
}
#endif

#ifdef CAPI_STUCK
#include <pthread.h>
struct timeval;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static int released = 0;
static int waiting = 0;

EXPORT unsigned capi20_register(unsigned a, unsigned b, unsigned c, unsigned *appl)
{
    (void)a, (void)b, (void)c;
    *appl = 1;
    return 0;
}
EXPORT unsigned capi20_release(unsigned appl)
{
    (void)appl;
    return 0;
}
EXPORT unsigned capi20_put_message(unsigned appl, unsigned char *message)
{
    (void)appl, (void)message;
    return 0;
}
EXPORT unsigned capi20_get_message(unsigned appl, unsigned char **message)
{
    (void)appl, (void)message;
    return 0x1104; /* queue empty */
}
EXPORT unsigned capi20_waitformessage(unsigned appl, struct timeval *timeout)
{
    (void)appl, (void)timeout;
    pthread_mutex_lock(&lock);
    ++waiting;
    pthread_cond_broadcast(&changed);
    while (!released)
        pthread_cond_wait(&changed, &lock);
    --waiting;
    pthread_mutex_unlock(&lock);
    return 0x1104;
}
/* Test control: how many threads wait inside, and the end of the hang. */
EXPORT int capi_stuck_waiting(void)
{
    pthread_mutex_lock(&lock);
    const int n = waiting;
    pthread_mutex_unlock(&lock);
    return n;
}
EXPORT void capi_stuck_release(void)
{
    pthread_mutex_lock(&lock);
    released = 1;
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
}
#endif
