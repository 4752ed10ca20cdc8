// Texts for CAPI info and reason codes and for CIP values (the service of a call).
#pragma once

#include <QString>
#include <cstdint>

// "No error" for 0; otherwise the text of the code (or "unknown error") followed by
// " ($" + the code in upper-case hexadecimal, at least four digits, + ")".
QString CapiInfoText(uint32_t code);

// Name of a CIP value; the empty text for values without a name.
QString CipValueText(uint32_t cip);
