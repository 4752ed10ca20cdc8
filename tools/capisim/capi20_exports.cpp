// The libcapi20 functions a program needs, played by the simulator. Only these
// symbols leave libcapisim.so (see capisim.map).

#include "tools/capisim/InProcessLine.h"

#include <capi20.h>

using capisim::InProcessLine;

extern "C" {

__attribute__((visibility("default"))) unsigned capi20_isinstalled(void)
{
    return InProcessLine::instance().isInstalled();
}

__attribute__((visibility("default"))) unsigned capi20_register(unsigned, unsigned, unsigned,
                                                                unsigned *ApplIDp)
{
    return InProcessLine::instance().registerAppl(ApplIDp);
}

__attribute__((visibility("default"))) unsigned capi20_release(unsigned ApplID)
{
    return InProcessLine::instance().release(ApplID);
}

__attribute__((visibility("default"))) unsigned capi20_put_message(unsigned ApplID,
                                                                   unsigned char *Msg)
{
    return InProcessLine::instance().putMessage(ApplID, Msg);
}

__attribute__((visibility("default"))) unsigned capi20_get_message(unsigned ApplID,
                                                                   unsigned char **Buf)
{
    return InProcessLine::instance().getMessage(ApplID, Buf);
}

__attribute__((visibility("default"))) unsigned capi20_waitformessage(unsigned ApplID,
                                                                      struct timeval *TimeOut)
{
    return InProcessLine::instance().waitForMessage(ApplID, TimeOut);
}

// There is no descriptor to add to an event loop; callers wait with capi20_waitformessage.
__attribute__((visibility("default"))) int capi20_fileno(unsigned)
{
    return -1;
}

} // extern "C"

// Runs at dlclose and at process end: no thread of ours may outlive the code.
__attribute__((destructor)) static void unloadLine()
{
    InProcessLine::shutdown();
}
