#include "tapi/TelLinkProvider.h"

#include "tapi/tapiconst.h"

#include <QUrl>

// GIO names a structure member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace tapi {

namespace {

bool hasTelHandler()
{
    GAppInfo *handler = g_app_info_get_default_for_uri_scheme("tel");
    if (!handler) return false;
    g_object_unref(handler);
    return true;
}

class TelLinkLine : public LineConnection
{
public:
    int32_t makeCall(const QString &number, Reason &detail) override
    {
        GError *error = nullptr;
        const QByteArray uri = TelLinkProvider::TelUri(number).toUtf8();
        if (!g_app_info_launch_default_for_uri(uri.constData(), nullptr, &error)) {
            detail = {QStringLiteral("TelHandlerFailed"),
                      {error ? QString::fromUtf8(error->message) : QStringLiteral("?")}};
            g_clear_error(&error);
            return LINEERR_OPERATIONFAILED;
        }
        if (OnMakeCallReply) OnMakeCallReply(0, {});
        if (OnCallState) {
            OnCallState(LINECALLSTATE_DIALING, 0);
            OnCallState(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        }
        return 0;
    }

    int32_t drop(Reason &) override { return 0; }
};

} // namespace

QString TelLinkProvider::DeviceName()
{
    return QStringLiteral("Desktop telephony (tel: link)");
}

QString TelLinkProvider::TelUri(const QString &number)
{
    return QStringLiteral("tel:") + QString::fromLatin1(QUrl::toPercentEncoding(number, "+*"));
}

QList<LineDeviceInfo> TelLinkProvider::devices() const
{
    if (!FHasHandler) FHasHandler = hasTelHandler();
    if (!*FHasHandler) return {};
    return {LineDeviceInfo{DeviceName(), Reason(), QString()}};
}

void TelLinkProvider::refresh()
{
    FHasHandler = hasTelHandler();
}

std::unique_ptr<LineConnection> TelLinkProvider::open(const LineDeviceInfo &device, int32_t &error,
                                                      Reason &)
{
    if (device.name != DeviceName() || !FHasHandler.value_or(false)) {
        error = LINEERR_BADDEVICEID;
        return nullptr;
    }
    return std::make_unique<TelLinkLine>();
}

} // namespace tapi
