#include "settings/RouterAddress.h"

#include <QHostAddress>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace {

bool isAsciiDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Four decimal numbers 0..255 without leading zeros (which some resolvers read as octal).
bool isIpv4(const QString &host)
{
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4) return false;
    return std::all_of(parts.begin(), parts.end(), [](const QString &part) {
        return isAsciiDigits(part) && part.size() <= 3 && !(part.size() > 1 && part[0] == u'0') &&
               part.toInt() <= 255;
    });
}

// QHostAddress overlooks blanks, so the characters are checked first. Scope ids ("%eth0") are
// interface names or numbers.
bool isIpv6(const QString &host)
{
    const qsizetype percent = host.indexOf(u'%');
    const QStringView groups = QStringView(host).left(percent);
    const bool hex = std::all_of(groups.begin(), groups.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c.toLower() >= u'a' && c.toLower() <= u'f') ||
               c == u':' || c == u'.';
    });
    if (!hex) return false;
    if (percent >= 0) {
        const QStringView scope = QStringView(host).mid(percent + 1);
        const bool plain = !scope.isEmpty() && std::all_of(scope.begin(), scope.end(), [](QChar c) {
            return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u'.';
        });
        if (!plain) return false;
    }
    QHostAddress address;
    return address.setAddress(host) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

bool isHostName(const QString &host)
{
    QStringView name(host);
    if (name.endsWith(u'.')) name.chop(1); // the root, as in "router.home."
    if (name.isEmpty()) return false;
    const bool allowed = std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.isLetter() || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
    });
    if (!allowed) return false;
    const QList<QStringView> labels = name.split(u'.');
    for (QStringView label : labels) {
        if (label.isEmpty() || label.startsWith(u'-') || label.endsWith(u'-')) return false;
    }
    // An all-digit last label is an address, and only a full one is taken (see isIpv4).
    if (isAsciiDigits(labels.last())) return false;
    // Names in other scripts go to the resolver in their ASCII form, which sets the limits.
    const QByteArray ace = QUrl::toAce(name.toString());
    if (ace.isEmpty() || ace.size() > 253) return false;
    const QList<QByteArray> aceLabels = ace.split('.');
    return std::all_of(aceLabels.begin(), aceLabels.end(),
                       [](const QByteArray &label) { return label.size() <= 63; });
}

RouterAddress failure(RouterAddressProblem problem)
{
    RouterAddress result;
    result.problem = problem;
    return result;
}

} // namespace

RouterAddress ParseRouterAddress(const QString &text)
{
    using Problem = RouterAddressProblem;
    const QString address = text.trimmed();
    if (address.isEmpty()) return failure(Problem::Empty);
    // A web address is no host, whatever its colon seems to say.
    if (address.contains(u'/')) return failure(Problem::BadHost);

    QString host;
    std::optional<QString> port;
    if (address.startsWith(u'[')) {
        const qsizetype close = address.indexOf(u']');
        if (close < 0) return failure(Problem::BadIpv6);
        host = address.mid(1, close - 1);
        const QString rest = address.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':')) return failure(Problem::BadIpv6);
            port = rest.mid(1);
        }
        if (!isIpv6(host)) return failure(Problem::BadIpv6);
    } else if (address.count(u':') > 1) {
        // A bare IPv6 address: a port would be one more group of it.
        host = address;
        if (!isIpv6(host)) return failure(Problem::BadIpv6);
    } else {
        const qsizetype colon = address.indexOf(u':');
        host = colon < 0 ? address : address.left(colon);
        if (colon >= 0) port = address.mid(colon + 1);
        if (!isIpv4(host) && !isHostName(host)) return failure(Problem::BadHost);
    }

    RouterAddress result;
    result.host = host;
    result.port = RouterMonitorDefaultPort;
    if (port) {
        const int number = isAsciiDigits(*port) && port->size() <= 5 ? port->toInt() : 0;
        if (number < 1 || number > 65535) return failure(Problem::BadPort);
        result.port = quint16(number);
    }
    return result;
}
