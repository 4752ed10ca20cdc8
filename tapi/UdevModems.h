// The serial ports udev knows as modems.
#pragma once

#include <QStringList>

namespace tapi {

// Every /dev/ttyACM* whose USB interface is of the communications class with the abstract
// control model (the class of USB modems and ISDN terminal adapters) and that ModemManager's
// rules do not mark as something else (ID_MM_DEVICE_IGNORE: boards and gadgets that merely
// look like modems). In port-number order; empty without udev.
QStringList FindUdevModemPorts();

} // namespace tapi
