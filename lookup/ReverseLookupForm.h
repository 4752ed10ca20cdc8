#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <vector>

// The answer of a reverse lookup: the caller's name (first line of the answer) and the
// further lines (address, town), each ended by a carriage return.
struct ReverseLookupAnswer
{
    QString name;
    QString info;
};

// The request for a number: the base URL, a "/" when it has none at its end, "rs.php?n=" and
// the number with every character but letters, digits and "-._~" percent-encoded, so that
// "++49..." reaches the server as it was given (a bare "+" would read as a space there).
QByteArray ReverseLookupRequest(const QString &baseUrl, const QString &number);

// One line of an answer with the server's escapes replaced (entities and percent codes of
// the German umlauts and ß, "%20", "%26", "%3B"; ": " becomes "=", quotes and commas go), in
// the fixed order the servers were written for: "&szlig;" becomes "ß;", an encoded comma or
// quote stays encoded.
QString DecodeReverseLookupLine(QString line);

// The body of an answer: text in UTF-8, or Windows-1252 when it is not valid UTF-8; trimmed
// of white space and control characters, split at CR, LF or CR LF; line 1 is the name, every
// further line goes to the information.
ReverseLookupAnswer ParseReverseLookupBody(const QByteArray &body);

// The HTTP client of the built-in reverse lookup: GET <base URL>rs.php?n=<number> over http
// or https (the certificate is verified), HTTP/1.1, no proxy, no redirects, no extra headers.
// A lookup gives up after 3 s without a connection or 8 s in all, and when the body grows
// beyond 64 KiB.
//
// One object serves one thread at a time: the lookup worker owns one, each reverse search of
// the lists dialog another. Abort() may be called from any thread.
class TfrmLookup
{
public:
    static constexpr long ConnectTimeoutMs = 3000;
    static constexpr long TotalTimeoutMs = 8000;
    static constexpr qsizetype MaxBodyBytes = 64 * 1024;

    explicit TfrmLookup(const QString &baseUrl);
    ~TfrmLookup();
    TfrmLookup(const TfrmLookup &) = delete;
    TfrmLookup &operator=(const TfrmLookup &) = delete;

    QString baseUrl() const { return FBaseUrl; }

    // Performs one request. False, with an empty answer, for an empty number or base URL, a
    // failed connection or transfer, a status other than 2xx (redirects included), a body
    // beyond the cap, or after Abort(); true for any answer received, an empty one too.
    // `failure` says why a request that was sent got no answer (the server cannot be reached,
    // refuses, does not answer in time, or answers with an error); it stays empty when there
    // was an answer, nothing was asked, or the lookup was aborted.
    bool Lookup(const QString &number, ReverseLookupAnswer &answer, QString *failure = nullptr);

    // Ends a transfer under way at once and fails every later lookup. Any thread.
    void Abort();
    bool Aborted() const { return FAborted.load(); }

private:
    friend struct CurlCallbacks;

    QString FBaseUrl;
    void *FCurl = nullptr;
    std::atomic<bool> FAborted = false;
    // The sockets libcurl has open, so that Abort() can wake a transfer that waits for data.
    std::mutex FSocketsMutex;
    std::vector<int> FSockets;
};
