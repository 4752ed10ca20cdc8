#pragma once

#include <cstdint>
#include <string>

namespace capisim {

// The faults the exchange plays on command. Plain value, copied under the
// exchange's lock.
struct Faults
{
    bool notInstalled = false;
    bool lineLost = false;
    uint16_t registerError = 0; // 0: register works
    uint16_t listenInfo = 0;    // 0: LISTEN_CONF says Info 0

    bool installed() const { return !notInstalled && !lineLost; }
    // "none", or e.g. "not-installed,listen-info=0x2002".
    std::string describe() const;
};

// Applies one fault setting ("not-installed", "lose-line", "register-error=0x1008",
// "listen-info=0x2002", "none") to faults. Returns false with error set otherwise.
bool applyFault(Faults &faults, const std::string &name, const std::string &value,
                std::string *error);
// The CAPISIM_FAULT syntax: settings separated by commas, a value after '='.
bool parseFaultList(const std::string &text, Faults *faults, std::string *error);

} // namespace capisim
