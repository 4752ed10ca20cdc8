#include "capi/CpInfo.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

struct InfoEntry
{
    uint16_t code;
    const char *text;
};

// Sorted by code. The network causes of the 0x34xx range follow the numbering of the
// German 1TR6 protocol, not Q.850; entries with equal texts are separate codes.
constexpr InfoEntry kInfoTexts[] = {
    {0x0000, "No error"},
    {0x1001, "Error on API_REGISTER"},
    {0x1002, "Illegal application-id"},
    {0x1003, "Illegal message"},
    {0x1004, "Illegal command or subcommand"},
    {0x1005, "Queue is full"},
    {0x1006, "Queue is empty"},
    {0x1007, "Queue overflow"},
    {0x1008, "Deinstall error"},
    {0x1009, "CAPI not installed"},
    {0x2001, "Illegal Controller"},
    {0x2002, "Illegal PLCI"},
    {0x2003, "Illegal NCCI"},
    {0x2004, "Illegal type"},
    {0x3101, "B-channel erroneous"},
    {0x3102, "Infomask erroneous"},
    {0x3103, "Serviced-EAZ-mask erroneous"},
    {0x3104, "Serviced-SI-mask erroneous"},
    {0x3105, "Illegal B2 protocol"},
    {0x3106, "Illegal DLPD"},
    {0x3107, "Illegal B3 protocol"},
    {0x3108, "Illegal NCPD"},
    {0x3109, "Illegal NCPI"},
    {0x310A, "Illegal flags"},
    {0x3201, "General controller error"},
    {0x3202, "non-unique LISTEN_REQs"},
    {0x3203, "function not supported"},
    {0x3204, "PLCI inactive"},
    {0x3205, "NCCI inactive"},
    {0x3206, "B2 protocol not supported"},
    {0x3207, "can't select B2 protocol now"},
    {0x3208, "B3 protocol not supported"},
    {0x3209, "can't select B3 protocol now"},
    {0x320A, "illegal DLPD parameters"},
    {0x320B, "illegal NCPD parameters"},
    {0x320C, "illegal NCPI parameters"},
    {0x320D, "data length not supported"},
    {0x3301, "D channel layer 1 setup error"},
    {0x3302, "D channel layer 2 setup error"},
    {0x3303, "B channel layer 1 setup error"},
    {0x3304, "B channel layer 2 setup error"},
    {0x3305, "D channel layer 1 shutdown"},
    {0x3306, "D channel layer 2 shutdown"},
    {0x3307, "D channel layer 3 shutdown"},
    {0x3308, "B channel layer 1 shutdown"},
    {0x3309, "B channel layer 2 shutdown"},
    {0x330A, "B channel layer 3 shutdown"},
    {0x330B, "B channel layer 2 reestablished"},
    {0x330C, "B channel layer 3 reestablished"},
    {0x3400, "Normal disconnect, no cause given by network"},
    {0x3480, "Normal disconnect, no cause given by network"},
    {0x3481, "Invalid CR value"},
    {0x3483, "Bearer service not implemented"},
    {0x3487, "Unknown caller identity"},
    {0x3488, "Call Identity already suspended"},
    {0x3489, "No channel available"},
    {0x348A, "No channel available"},
    {0x3490, "FAC Code unknown in this network"},
    {0x3491, "requested service rejected"},
    {0x34A0, "Outgoing calls barred"},
    {0x34A1, "User access busy"},
    {0x34A2, "Nonexistent CUG"},
    {0x34A3, "Nonexistent CUG"},
    {0x34A5, "Invalid or unknown destination"},
    {0x34B5, "Destination not obtainable"},
    {0x34B8, "Number changed"},
    {0x34B9, "Out of order"},
    {0x34BA, "No user responding"},
    {0x34BB, "User busy"},
    {0x34BD, "Incoming calls barred"},
    {0x34BE, "Call rejected"},
    {0x34D8, "Invalid destination address"},
    {0x34D9, "Network congestion"},
    {0x34DA, "Remote user initiated"},
    {0x34F0, "Local procedure error"},
    {0x34F1, "Remote procedure error"},
    {0x34F2, "Remote suspended"},
    {0x34F3, "Remote not suspended"},
    {0x34FF, "Local reject of User to User info"},
    {0x4001, "Stollmann: too many applications"},
    {0x4002, "Stollmann: block size too large"},
    {0x4003, "Stollmann: error on init of message queue"},
    {0x4004, "Stollmann: no PLCI cntl block available"},
    {0x40FF, "Stollmann: function not allowed in current context"},
    {0x4101, "frame synchronization lost"},
    {0x4201, "Stollmann: can't deinstall, not on top of int chain"},
    {0x4202, "Stollmann: can't deinstall, application still active"},
};
static_assert(std::size(kInfoTexts) == 87);

} // namespace

QString CapiInfoText(uint32_t code)
{
    if (code == 0) return QStringLiteral("No error");
    const char *text = "unknown error";
    const auto it = std::lower_bound(std::begin(kInfoTexts), std::end(kInfoTexts), code,
                                     [](const InfoEntry &e, uint32_t c) { return e.code < c; });
    if (it != std::end(kInfoTexts) && it->code == code) text = it->text;
    const QString hex = QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
    return QStringLiteral("%1 ($%2)").arg(QLatin1String(text), hex);
}

QString CipValueText(uint32_t cip)
{
    static const char *const kCipTexts[] = {
        "no predefined profile",
        "speech",
        "unrestricted digital information",
        "restricted digital information",
        "3.1 kHz audio",
        "7.0 kHz audio",
        "video",
        "packet mode",
        "56 kBit/s rate adaptation",
        "unrestricted digital information with tones/announcements",
    };
    static const char *const kCipTexts16[] = {
        "telephony",
        "fax group 2/3",
        "fax group 4 class 1",
        "Teletex service (basic and mixed), fax group 4 class 2",
        "Teletex service (basic and processable)",
        "Teletex service (basic)",
        "Videotex",
        "Telex",
        "message handling systems according X.400",
        "OSI applications according X.200",
        "7 kHz Telephony",
        "Video Telephony F.721, first connection",
        "Video Telephony F.721, second connection",
    };
    if (cip < std::size(kCipTexts)) return QLatin1String(kCipTexts[cip]);
    if (cip >= 16 && cip - 16 < std::size(kCipTexts16)) return QLatin1String(kCipTexts16[cip - 16]);
    return {};
}
