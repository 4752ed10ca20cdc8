/* A CAPI library that says it is installed but lacks the other operations. */
__attribute__((visibility("default"))) unsigned capi20_isinstalled(void)
{
    return 0;
}
