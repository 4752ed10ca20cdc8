#include "tapi/UdevModems.h"

#include <libudev.h>

#include <algorithm>

namespace tapi {

namespace {

constexpr char CommunicationsClass[] = "02";
constexpr char AbstractControlModel[] = "02";

bool isModemInterface(udev_device *tty)
{
    udev_device *interface =
        udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface");
    if (!interface) return false;
    const char *interfaceClass = udev_device_get_sysattr_value(interface, "bInterfaceClass");
    const char *subClass = udev_device_get_sysattr_value(interface, "bInterfaceSubClass");
    const char *ignored = udev_device_get_property_value(tty, "ID_MM_DEVICE_IGNORE");
    return interfaceClass && subClass && qstrcmp(interfaceClass, CommunicationsClass) == 0 &&
           qstrcmp(subClass, AbstractControlModel) == 0 && qstrcmp(ignored, "1") != 0;
}

} // namespace

QStringList FindUdevModemPorts()
{
    QStringList ports;
    udev *context = udev_new();
    if (!context) return ports;
    udev_enumerate *enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_add_match_sysname(enumerate, "ttyACM*");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry *entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        udev_device *tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!tty) continue;
        const char *node = udev_device_get_devnode(tty);
        if (node && isModemInterface(tty)) ports.append(QString::fromLocal8Bit(node));
        udev_device_unref(tty);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    // ttyACM2 before ttyACM10.
    std::sort(ports.begin(), ports.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return ports;
}

} // namespace tapi
