// The settings reader on any ini file: every key read with its rules, the old MSN section
// parsed, the TAPI device resolved. Nothing is written.

#include "settings/SettingsStore.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static SettingsStore store(QStringLiteral("/nonexistent/corvane.ini"));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<MsnSectionEntry> entries = store.readFromData(bytes);
    for (const MsnSectionEntry &entry : entries) {
        if (entry.msn.isEmpty()) __builtin_trap();
    }
    store.tapiDeviceIndex({QStringLiteral("Modem"), QStringLiteral("ISDN")});
    if (store.settings.cutZeroes < 0 || store.settings.cutZeroes > 100 ||
        store.settings.transparency < 0 || store.settings.transparency > 100 ||
        store.settings.duration < 0 || store.settings.clearCallDays < 0)
        __builtin_trap();
    return 0;
}
