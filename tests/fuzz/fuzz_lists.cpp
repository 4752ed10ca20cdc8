// The three list readers on any bytes. The first byte picks the list (and, for calls, whether
// old calls are purged); the rest is the file. A file that reads without error must come back
// unchanged from being written and read again.

#include "lists/ListFiles.h"

#include <cstdint>
#include <cstdlib>
#include <numeric>

namespace {

std::vector<int> identity(qsizetype n)
{
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    return order;
}

// Files with ";" as separator cannot hold one in a value, so writing changes nothing.
bool semicolonFile(QByteArrayView file)
{
    const qsizetype marker = file.indexOf(ListFormat::HeaderMarker.toLatin1());
    const qsizetype lineEnd = file.indexOf('\n');
    const qsizetype cr = file.indexOf('\r');
    const qsizetype end = cr >= 0 && (lineEnd < 0 || cr < lineEnd) ? cr : lineEnd;
    if (marker < 0 || (end >= 0 && marker > end)) return false;
    bool ok = false;
    QByteArrayView version = file.first(marker);
    if (version.startsWith("\xef\xbb\xbf")) version = version.sliced(3);
    const int number = QString::fromUtf8(version).trimmed().toInt(&ok);
    return ok && number >= ListFormat::FirstSemicolonVersion;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const int kind = data[0] % 3;
    const QByteArrayView file(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const bool checkRoundTrip = semicolonFile(file);

    if (kind == 0) {
        ListFormat::CallsOptions options;
        options.clearCalls = data[0] & 0x80;
        options.now = 46000.5;
        const ListFormat::CallsResult result = ListFormat::parseCalls(file, options);
        if (result.ok && checkRoundTrip && !options.clearCalls && !result.keyCommaFixed) {
            const QByteArray written = ListFormat::formatCalls(
                result.rows, identity(result.rows.size()), Language::English,
                ListFormat::FileFormats::fromLocale(QLocale::c()));
            const ListFormat::CallsResult again = ListFormat::parseCalls(written, options);
            if (!again.ok || !(again.rows == result.rows)) std::abort();
        }
    } else if (kind == 1) {
        const ListFormat::NicksResult result = ListFormat::parseNicks(file, Language::German);
        if (result.ok && checkRoundTrip) {
            const QByteArray written = ListFormat::formatNicks(
                result.rows, identity(result.rows.size()), Language::German);
            const ListFormat::NicksResult again = ListFormat::parseNicks(written, Language::German);
            if (!again.ok || !(again.rows == result.rows)) std::abort();
        }
    } else {
        const ListFormat::MsnResult result = ListFormat::parseMsn(file);
        if (result.ok && checkRoundTrip) {
            const QByteArray written = ListFormat::formatMsn(result.rows, Language::English);
            const ListFormat::MsnResult again = ListFormat::parseMsn(written);
            if (!again.ok || !(again.rows == result.rows)) std::abort();
        }
    }
    return 0;
}
