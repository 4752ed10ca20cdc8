#include "lookup/ReverseLookupForm.h"

#include "platform/TextCodec.h"

#include <QUrl>

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

QByteArray ReverseLookupRequest(const QString &baseUrl, const QString &number)
{
    QByteArray url = baseUrl.trimmed().toUtf8();
    if (!url.endsWith('/')) url.append('/');
    return url + "rs.php?n=" + QUrl::toPercentEncoding(number);
}

QString DecodeReverseLookupLine(QString line)
{
    // The order matters; see the header.
    static const std::pair<QString, QString> Steps[] = {
        {QStringLiteral(": "), QStringLiteral("=")},
        {QStringLiteral("\""), QString()},
        {QStringLiteral(","), QString()},
        {QStringLiteral("%20"), QStringLiteral(" ")},
        {QStringLiteral("%26"), QStringLiteral("&")},
        {QStringLiteral("%3B"), QStringLiteral(";")},
        {QStringLiteral("&auml;"), QStringLiteral("ä")},
        {QStringLiteral("&ouml;"), QStringLiteral("ö")},
        {QStringLiteral("&uuml;"), QStringLiteral("ü")},
        {QStringLiteral("&Auml;"), QStringLiteral("Ä")},
        {QStringLiteral("&Ouml;"), QStringLiteral("Ö")},
        {QStringLiteral("&Uuml;"), QStringLiteral("Ü")},
        {QStringLiteral("&szlig"), QStringLiteral("ß")},
        {QStringLiteral("%DF"), QStringLiteral("ß")},
        {QStringLiteral("%C3%A4"), QStringLiteral("ä")},
        {QStringLiteral("%C3%B6"), QStringLiteral("ö")},
        {QStringLiteral("%C3%BC"), QStringLiteral("ü")},
        {QStringLiteral("%C3%84"), QStringLiteral("Ä")},
        {QStringLiteral("%C3%96"), QStringLiteral("Ö")},
        {QStringLiteral("%C3%9C"), QStringLiteral("Ü")},
        {QStringLiteral("%C3%9F"), QStringLiteral("ß")},
    };
    for (const auto &[from, to] : Steps)
        line.replace(from, to, Qt::CaseSensitive);
    return line;
}

ReverseLookupAnswer ParseReverseLookupBody(const QByteArray &body)
{
    // Decoding the bytes first cannot make or break any of the ASCII sequences the line
    // decoding replaces, so its order holds for UTF-8 and Windows-1252 answers alike.
    const QString text = TextCodec::decode(body);
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) <= QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) <= QLatin1Char(' '))
        --end;

    ReverseLookupAnswer answer;
    if (begin == end) return answer;
    bool first = true;
    qsizetype lineStart = begin;
    while (lineStart <= end) {
        qsizetype lineEnd = lineStart;
        while (lineEnd < end && text.at(lineEnd) != u'\r' && text.at(lineEnd) != u'\n')
            ++lineEnd;
        const QString line = DecodeReverseLookupLine(text.mid(lineStart, lineEnd - lineStart));
        if (first)
            answer.name = line;
        else
            answer.info += line + QLatin1Char('\r');
        first = false;
        if (lineEnd < end && text.at(lineEnd) == u'\r' && lineEnd + 1 < end &&
            text.at(lineEnd + 1) == u'\n')
            ++lineEnd;
        lineStart = lineEnd + 1;
    }
    return answer;
}

// libcurl calls these from the thread that runs the transfer (Abort() aside).
struct CurlCallbacks
{
    static size_t receive(char *data, size_t size, size_t count, void *target)
    {
        auto *body = static_cast<QByteArray *>(target);
        const size_t bytes = size * count;
        if (body->size() + qsizetype(bytes) > TfrmLookup::MaxBodyBytes) return 0; // write error
        body->append(data, qsizetype(bytes));
        return bytes;
    }

    static int progress(void *client, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<TfrmLookup *>(client)->FAborted.load() ? 1 : 0;
    }

    static curl_socket_t openSocket(void *client, curlsocktype, curl_sockaddr *address)
    {
        auto *self = static_cast<TfrmLookup *>(client);
        std::lock_guard lock(self->FSocketsMutex);
        if (self->FAborted.load()) return CURL_SOCKET_BAD;
        const int fd =
            ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd >= 0) self->FSockets.push_back(fd);
        return fd >= 0 ? fd : CURL_SOCKET_BAD;
    }

    static int closeSocket(void *client, curl_socket_t fd)
    {
        auto *self = static_cast<TfrmLookup *>(client);
        // Under the lock, so that Abort() never shuts down a number the system has reused.
        std::lock_guard lock(self->FSocketsMutex);
        std::erase(self->FSockets, fd);
        return ::close(fd);
    }
};

TfrmLookup::TfrmLookup(const QString &baseUrl) : FBaseUrl(baseUrl.trimmed())
{
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL *curl = curl_easy_init();
    FCurl = curl;
    if (!curl) return;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROXY, ""); // also ignores the proxy variables
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, TotalTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxBodyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CurlCallbacks::receive);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CurlCallbacks::progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::openSocket);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &CurlCallbacks::closeSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
}

TfrmLookup::~TfrmLookup()
{
    if (FCurl) curl_easy_cleanup(static_cast<CURL *>(FCurl));
}

bool TfrmLookup::Lookup(const QString &number, ReverseLookupAnswer &answer, QString *failure)
{
    answer = {};
    if (failure) failure->clear();
    if (number.isEmpty() || FBaseUrl.isEmpty() || !FCurl || FAborted.load()) return false;
    CURL *curl = static_cast<CURL *>(FCurl);
    QByteArray body;
    char error[CURL_ERROR_SIZE] = {};
    const QByteArray url = ReverseLookupRequest(FBaseUrl, number);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (FAborted.load()) return false;
    if (result != CURLE_OK) {
        // The buffer names host, port and cause ("Connection refused"); not every error fills it.
        // Only the body's cap makes receive() refuse data.
        if (!failure) return false;
        if (result == CURLE_WRITE_ERROR || result == CURLE_FILESIZE_EXCEEDED)
            *failure = QStringLiteral("the answer is larger than %1 KiB").arg(MaxBodyBytes / 1024);
        else
            *failure = QString::fromUtf8(*error ? error : curl_easy_strerror(result)).trimmed();
        // The system's word for it: a refused connection and an unreachable host read alike.
        long osError = 0;
        if (curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError) == CURLE_OK && osError)
            *failure +=
                QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(int(osError))));
        return false;
    }
    if (status < 200 || status > 299) {
        if (failure) *failure = QStringLiteral("HTTP status %1").arg(status);
        return false;
    }
    answer = ParseReverseLookupBody(body);
    return true;
}

void TfrmLookup::Abort()
{
    FAborted.store(true);
    // A transfer waiting for data wakes at once and ends in the progress callback.
    std::lock_guard lock(FSocketsMutex);
    for (int fd : FSockets)
        ::shutdown(fd, SHUT_RDWR);
}
