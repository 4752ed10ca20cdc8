// The desktop's handler for tel: links as a line device.
#pragma once

#include "tapi/LineProvider.h"

#include <optional>

namespace tapi {

// One device, "Desktop telephony (tel: link)", while the desktop names a default
// application for tel: links (asked through GIO at each refresh). Dialling
// launches that application with "tel:<number>" (a softphone, or a link to a mobile phone,
// places the call): the call goes to dialing and, once the launch worked, to connected; a
// failed launch fails the make-call request. Hanging up is the handler's business.
//
// Owned by the program; must outlive the line layer it is added to. Main thread only.
class TelLinkProvider : public LineProvider
{
public:
    static QString DeviceName();

    QList<LineDeviceInfo> devices() const override;
    void refresh() override;
    std::unique_ptr<LineConnection> open(const LineDeviceInfo &device, int32_t &error,
                                         Reason &detail) override;

    // The URI handed to the handler: "tel:" and the number, percent-encoded as a URI part
    // with "+" and "*" kept ("#" becomes %23).
    static QString TelUri(const QString &number);

private:
    mutable std::optional<bool> FHasHandler;
};

} // namespace tapi
