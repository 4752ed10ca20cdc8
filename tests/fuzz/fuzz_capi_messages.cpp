// Feeds arbitrary bytes to the CAPI message factory and every decoder, as a remote
// controller could send them.
#include "capi/CpMsg.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy lets AddressSanitizer see any read past the message.
    std::vector<uint8_t> copy(data, data + size);
    std::unique_ptr<TCapiMessage> m = CreateCapiMessage(copy.data(), copy.size());
    if (!m) return 0;
    if (auto *ind = dynamic_cast<TConnectInd *>(m.get())) {
        volatile auto n =
            ind->CallingPartyNumber->Digits.size() + ind->CalledPartyNumber->Text.size();
        (void)n;
        ind->HLC->Rewind();
        uint8_t b[4];
        ind->HLC->ReadBytes(b, sizeof b);
    }
    m->Serialize();
    return 0;
}
