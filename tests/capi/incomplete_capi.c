/* Two small CAPI libraries for the loading cases: one that says it is installed but
 * lacks the other operations, and (with CAPI_COMPLETE) one that has all six and never
 * registers. */
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
