#include "lists/ListFiles.h"

#include "lists/DayCount.h"
#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"
#include "settings/SettingsStore.h"

#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <exception>
#include <numeric>
#include <thread>

namespace ListFormat {

const QString HeaderMarker = QStringLiteral(" # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!");

int version()
{
    return CORVANE_VERSION_MAJOR * 65536 + CORVANE_VERSION_MINOR;
}

namespace {

constexpr char Bel = 7;
const QByteArray Marker = HeaderMarker.toLatin1();

// The first `c` in [p, end), or end. Fields are short, so eight bytes at a time in a register
// beat a call to memchr.
const char *findByte(const char *p, const char *end, char c)
{
    const quint64 pattern = 0x0101010101010101ULL * quint8(c);
    for (; end - p >= 8; p += 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        const quint64 x = word ^ pattern;
        const quint64 found = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
        if (found) return p + (qCountTrailingZeroBits(found) >> 3);
    }
    while (p != end && *p != c)
        ++p;
    return p;
}

bool isAscii(QByteArrayView bytes)
{
    const char *p = bytes.data();
    const char *end = p + bytes.size();
    // In blocks, so that the first non-ASCII byte ends the scan soon.
    while (end - p >= 256) {
        quint64 any = 0;
        for (int i = 0; i < 32; ++i, p += 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            any |= word;
        }
        if (any & 0x8080808080808080ULL) return false;
    }
    for (; p != end; ++p) {
        if (quint8(*p) >= 0x80) return false;
    }
    return true;
}

// Values that repeat (numbers, names, towns, states) are decoded once and shared. One table
// per column keeps each small; an open-addressing table of 8-byte slots is much cheaper than a
// QHash on these short keys.
class Interner
{
public:
    Interner() : FSlots(256) {}

    template <class Decode> QString get(QByteArrayView field, const Decode &decode)
    {
        if (field.isEmpty()) return QString();
        const quint64 hash = hashOf(field);
        const quint32 check = quint32(hash >> 32);
        const size_t mask = FSlots.size() - 1;
        for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
            Slot &slot = FSlots[i];
            if (slot.value < 0) {
                slot = {check, qint32(FValues.size())};
                FKeys.push_back(field);
                FValues.push_back(decode(field));
                if (FValues.size() * 2 > FSlots.size()) grow();
                return FValues.back();
            }
            const QByteArrayView key = FKeys[size_t(slot.value)];
            if (slot.check == check && key.size() == field.size() &&
                std::memcmp(key.data(), field.data(), size_t(field.size())) == 0)
                return FValues[size_t(slot.value)];
        }
    }

private:
    struct Slot
    {
        quint32 check = 0;
        qint32 value = -1;
    };

    static quint64 hashOf(QByteArrayView bytes)
    {
        quint64 hash = 0x9E3779B97F4A7C15ULL ^ quint64(bytes.size());
        const char *p = bytes.data();
        qsizetype n = bytes.size();
        for (; n >= 8; p += 8, n -= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            hash = (hash ^ word) * 0xFF51AFD7ED558CCDULL;
            hash ^= hash >> 29;
        }
        quint64 tail = 0;
        for (qsizetype i = 0; i < n; ++i)
            tail = (tail << 8) | quint8(p[i]);
        hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ULL;
        return hash ^ (hash >> 31);
    }

    void grow()
    {
        FSlots.assign(FSlots.size() * 2, Slot{});
        const size_t mask = FSlots.size() - 1;
        for (size_t v = 0; v < FKeys.size(); ++v) {
            const quint64 hash = hashOf(FKeys[v]);
            size_t i = size_t(hash) & mask;
            while (FSlots[i].value >= 0)
                i = (i + 1) & mask;
            FSlots[i] = {quint32(hash >> 32), qint32(v)};
        }
    }

    std::vector<Slot> FSlots;
    std::vector<QByteArrayView> FKeys;
    std::vector<QString> FValues;
};

// A file's bytes with the encoding decided once for the whole file (UTF-8, else
// Windows-1252). Separators and line ends are ASCII in both, so the file is split as bytes and
// only the fields are decoded.
class Source
{
public:
    explicit Source(QByteArrayView bytes)
        : FAscii(isAscii(bytes)), FUtf8(FAscii || TextCodec::isUtf8(bytes))
    {
        if (FUtf8 && bytes.startsWith("\xef\xbb\xbf")) bytes = bytes.sliced(3);
        FBytes = bytes;
    }

    // The same file for another thread, with tables of its own.
    Source(const Source &other) : FAscii(other.FAscii), FUtf8(other.FUtf8), FBytes(other.FBytes) {}

    QByteArrayView bytes() const { return FBytes; }
    QString decode(QByteArrayView field) const
    {
        return FAscii ? QString::fromLatin1(field) : TextCodec::decodeAs(field, FUtf8);
    }
    // Shared value of a column (0..7).
    QString shared(int column, QByteArrayView field)
    {
        return FColumns[column].get(field, [this](QByteArrayView f) { return decode(f); });
    }

private:
    bool FAscii;
    bool FUtf8;
    QByteArrayView FBytes;
    Interner FColumns[8];
};

// Fields of one line. When no separator is left, the rest of the line is the last field.
class FieldReader
{
public:
    FieldReader(QByteArrayView line, char separator, int *steps)
        : FRest(line), FSeparator(separator), FSteps(steps)
    {
    }

    QByteArrayView take()
    {
        ++*FSteps;
        if (FDone) return {};
        const char *begin = FRest.data();
        const char *end = begin + FRest.size();
        const char *at = findByte(begin, end, FSeparator);
        if (at == end) {
            FDone = true;
            return FRest;
        }
        const QByteArrayView field(begin, at - begin);
        FRest = QByteArrayView(at + 1, end - at - 1);
        return field;
    }

private:
    QByteArrayView FRest;
    char FSeparator;
    int *FSteps;
    bool FDone = false;
};

QString trimControl(QStringView text)
{
    while (!text.isEmpty() && text.front().unicode() <= 0x20)
        text = text.mid(1);
    while (!text.isEmpty() && text.back().unicode() <= 0x20)
        text.chop(1);
    return text.toString();
}

struct Header
{
    bool present = false;
    int version = 0;
    char separator = Bel;
};

// Line 1 with the marker is the header; its version decides the separator.
bool readHeader(const Source &source, QByteArrayView line, Header *header, QString *error)
{
    const qsizetype at = line.indexOf(Marker);
    if (at < 0) return true;
    const QString text = trimControl(source.decode(line.first(at)));
    bool ok = false;
    const int version = text.toInt(&ok, 10);
    if (!ok) {
        *error = QStringLiteral("'%1' is not a valid integer value").arg(text);
        return false;
    }
    header->present = true;
    header->version = version;
    header->separator = version >= FirstSemicolonVersion ? ';' : Bel;
    return true;
}

QString emptyFileError()
{
    return QStringLiteral("The file is empty");
}

// The output of the writers: UTF-8, every field followed by ";" with a ";" inside a value
// written as "," and line breaks as blanks, so that no value can split a line.
class LineWriter
{
public:
    explicit LineWriter(qsizetype reserve)
    {
        FOut.resize(qMax<qsizetype>(reserve, 64));
        FData = FOut.data();
    }

    void field(QStringView value)
    {
        const qsizetype n = value.size();
        char *out = room(n * 3 + 1);
        const char16_t *in = value.utf16();
        for (qsizetype i = 0; i < n; ++i) {
            // Plain ASCII, the usual case, eight or four characters at a time.
#ifdef __SSE2__
            if (n - i >= 8) {
                const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
                const __m128i bad = _mm_or_si128(
                    _mm_and_si128(chars, _mm_set1_epi16(short(0xFF80))),
                    _mm_or_si128(_mm_cmpeq_epi16(chars, _mm_set1_epi16(';')),
                                 _mm_or_si128(_mm_cmpeq_epi16(chars, _mm_set1_epi16('\r')),
                                              _mm_cmpeq_epi16(chars, _mm_set1_epi16('\n')))));
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(bad, _mm_setzero_si128())) == 0xFFFF) {
                    _mm_storel_epi64(reinterpret_cast<__m128i *>(out),
                                     _mm_packus_epi16(chars, chars));
                    out += 8;
                    i += 7;
                    continue;
                }
            }
#endif
            if (n - i >= 4) {
                quint64 word;
                std::memcpy(&word, in + i, 8);
                if ((word & 0xFF80FF80FF80FF80ULL) == 0 && !hasLane(word, u';') &&
                    !hasLane(word, u'\r') && !hasLane(word, u'\n')) {
                    // One store: byte stores would make the compiler reload everything else.
                    const quint32 four =
                        quint32((word & 0xFF) | ((word >> 8) & 0xFF00) | ((word >> 16) & 0xFF0000) |
                                ((word >> 24) & 0xFF000000));
                    std::memcpy(out, &four, 4);
                    out += 4;
                    i += 3;
                    continue;
                }
            }
            const char16_t u = in[i];
            if (u < 0x80) {
                *out++ = u == u';' ? ',' : (u == u'\r' || u == u'\n') ? ' ' : char(u);
            } else if (u < 0x800) {
                *out++ = char(0xC0 | (u >> 6));
                *out++ = char(0x80 | (u & 0x3F));
            } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(in[i + 1])) {
                const char32_t c = QChar::surrogateToUcs4(u, in[++i]);
                *out++ = char(0xF0 | (c >> 18));
                *out++ = char(0x80 | ((c >> 12) & 0x3F));
                *out++ = char(0x80 | ((c >> 6) & 0x3F));
                *out++ = char(0x80 | (c & 0x3F));
            } else {
                const char16_t c = QChar::isSurrogate(u) ? char16_t(0xFFFD) : u;
                *out++ = char(0xE0 | (c >> 12));
                *out++ = char(0x80 | ((c >> 6) & 0x3F));
                *out++ = char(0x80 | (c & 0x3F));
            }
        }
        *out++ = ';';
        FSize = out - FData;
    }

    void raw(const QString &text)
    {
        const QByteArray bytes = text.toUtf8();
        std::memcpy(room(bytes.size()), bytes.constData(), size_t(bytes.size()));
        FSize += bytes.size();
    }

    void append(LineWriter &other)
    {
        std::memcpy(room(other.FSize), other.FOut.constData(), size_t(other.FSize));
        FSize += other.FSize;
    }

    void endLine()
    {
        char *out = room(2);
        out[0] = '\r';
        out[1] = '\n';
        FSize += 2;
    }

    QByteArray bytes()
    {
        FOut.truncate(FSize);
        return std::move(FOut);
    }

private:
    // Some 16-bit lane of the word (all below 0x80) equals c.
    static bool hasLane(quint64 word, char16_t c)
    {
        const quint64 x = word ^ (0x0001000100010001ULL * c);
        return ((x - 0x0001000100010001ULL) & ~x & 0x8000800080008000ULL) != 0;
    }

    // Space for n more bytes at the end of what is written. The buffer's address is kept, as
    // asking the QByteArray for it checks for sharing every time.
    char *room(qsizetype n)
    {
        if (FSize + n > FOut.size()) {
            FOut.resize(qMax(FSize + n, FOut.size() * 2));
            FData = FOut.data();
        }
        return FData + FSize;
    }

    QByteArray FOut;
    char *FData = nullptr;
    qsizetype FSize = 0;
};

void writeHeader(LineWriter &out, const QStringList &captions)
{
    out.raw(QString::number(version()) + HeaderMarker);
    out.endLine();
    for (const QString &caption : captions)
        out.field(caption);
    out.endLine();
}

QString removeTimeZone(QString format)
{
    // "t" is the zone in a Qt time format; the file fields carry wall-clock time only.
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        result += c;
    }
    return result.trimmed();
}

} // namespace

std::vector<QByteArrayView> splitLines(QByteArrayView text)
{
    std::vector<QByteArrayView> lines;
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size) {
        const char *lf =
            static_cast<const char *>(std::memchr(data + start, '\n', size_t(size - start)));
        const qsizetype newline = lf ? lf - data : size;
        const char *cr =
            static_cast<const char *>(std::memchr(data + start, '\r', size_t(newline - start)));
        if (cr) {
            const qsizetype at = cr - data;
            lines.push_back(text.sliced(start, at - start));
            start = at + 1 < size && data[at + 1] == '\n' ? at + 2 : at + 1;
        } else {
            lines.push_back(text.sliced(start, newline - start));
            start = newline + 1;
        }
    }
    return lines;
}

namespace {

// The rows of a run of lines of a calls file.
struct CallsChunk
{
    bool failed = false;
    QString error;
    int steps = 0;
    QList<CallRow> rows;
    QStringList purged; // in file order
    QList<CallRow> purgedRows;
    bool keyCommaFixed = false;
    // The keys of the rows are made of digits and "." and ascend byte by byte.
    bool keysAscending = true;
    QByteArrayView firstKey, lastKey;
    qsizetype lines = 0;
};

bool isDigitsAndDots(QByteArrayView text)
{
    for (const char c : text) {
        if ((c < '0' || c > '9') && c != '.') return false;
    }
    return true;
}

void parseCallLines(const std::vector<QByteArrayView> &lines, qsizetype begin, qsizetype end,
                    const Header &header, const CallsOptions &options, Source &source,
                    CallsChunk *chunk)
{
    chunk->lines = end - begin;
    const bool storedDateTime = header.present && header.version >= FirstSemicolonVersion;
    chunk->rows.reserve(end - begin);
    QByteArray keyBytes;
    for (qsizetype i = begin; i < end; ++i) {
        const QByteArrayView line = lines[size_t(i)];
        ++chunk->steps;
        if (line.isEmpty()) continue;
        if (!header.present) {
            const qsizetype bels = line.count(Bel);
            if (bels == 6) {
                chunk->failed = true;
                chunk->error = QStringLiteral("Fatal Error: File with calls from too old version!");
                return;
            }
            if (bels != 5) continue;
        }
        FieldReader fields(line, header.separator, &chunk->steps);
        QByteArrayView key = fields.take();
        const qsizetype comma = key.indexOf(',');
        if (comma >= 0) {
            keyBytes = key.toByteArray();
            keyBytes[comma] = '.';
            key = keyBytes;
            chunk->keyCommaFixed = true;
        }
        double value = 0;
        if (!DayCount::parseKey(key, &value)) {
            chunk->failed = true;
            chunk->error =
                QStringLiteral("'%1' is not a valid floating point value").arg(source.decode(key));
            return;
        }
        CallRow row;
        row.dateTime = source.decode(key);
        if (storedDateTime) {
            fields.take();
            fields.take();
        }
        row.number = source.shared(CallRow::Number, fields.take());
        row.nickname = source.shared(CallRow::Nickname, fields.take());
        row.town = source.shared(CallRow::Town, fields.take());
        row.target = source.shared(CallRow::Target, fields.take());
        row.status = source.shared(CallRow::Status, fields.take());
        if (options.clearCalls && options.now - value >= options.clearCallDays) {
            chunk->purged.append(source.decode(line));
            chunk->purgedRows.append(std::move(row));
        } else {
            if (chunk->keysAscending) {
                chunk->keysAscending =
                    comma < 0 && isDigitsAndDots(key) &&
                    (chunk->lastKey.isNull() || chunk->lastKey.compare(key) <= 0);
                if (chunk->firstKey.isNull()) chunk->firstKey = key;
                chunk->lastKey = key;
            }
            chunk->rows.append(std::move(row));
        }
    }
}

} // namespace

CallsResult parseCalls(QByteArrayView bytes, const CallsOptions &options)
{
    CallsResult result;
    result.steps = 1;
    Source source(bytes);
    const QByteArrayView text = source.bytes();
    if (text.isEmpty()) {
        result.error = emptyFileError();
        return result;
    }
    qsizetype firstEnd = 0;
    while (firstEnd < text.size() && text[firstEnd] != '\r' && text[firstEnd] != '\n')
        ++firstEnd;
    Header header;
    if (!readHeader(source, text.first(firstEnd), &header, &result.error)) return result;

    // A long list is read by two threads: the second takes the lines after the first line end
    // past the middle of the file (after an LF, so that no CR LF pair is cut).
    qsizetype splitAt = text.size();
    if (text.size() >= (qsizetype(1) << 20) && std::thread::hardware_concurrency() > 1) {
        const char *middle = text.data() + text.size() / 2;
        const char *lf = findByte(middle, text.data() + text.size(), '\n');
        if (lf != text.data() + text.size()) splitAt = lf + 1 - text.data();
    }
    CallsChunk chunks[2];
    std::exception_ptr failure;
    std::thread helper;
    Source secondSource(source);
    if (splitAt < text.size()) {
        helper = std::thread([&] {
            try {
                const std::vector<QByteArrayView> lines = splitLines(text.sliced(splitAt));
                parseCallLines(lines, 0, qsizetype(lines.size()), header, options, secondSource,
                               &chunks[1]);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    }
    try {
        const std::vector<QByteArrayView> lines = splitLines(text.first(splitAt));
        // A file without header may start with a caption line; its rows have five BELs.
        const qsizetype first = header.present ? 2 : lines.front().count(Bel) == 5 ? 0 : 1;
        parseCallLines(lines, qMin(first, qsizetype(lines.size())), qsizetype(lines.size()), header,
                       options, source, &chunks[0]);
    } catch (...) {
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
    if (failure) std::rethrow_exception(failure);

    // The halves in file order; a failure keeps the rows read before it.
    qsizetype expected = 0;
    result.rows = std::move(chunks[0].rows);
    result.keysAscending = true;
    QByteArrayView lastKey;
    for (CallsChunk &chunk : chunks) {
        if (&chunk != &chunks[0]) result.rows.append(std::move(chunk.rows));
        result.steps += chunk.steps;
        result.purged.append(chunk.purged);
        result.purgedRows.append(chunk.purgedRows);
        result.keyCommaFixed = result.keyCommaFixed || chunk.keyCommaFixed;
        result.keysAscending =
            result.keysAscending && chunk.keysAscending &&
            (lastKey.isNull() || chunk.firstKey.isNull() || lastKey.compare(chunk.firstKey) <= 0);
        if (!chunk.lastKey.isNull()) lastKey = chunk.lastKey;
        expected += chunk.lines - chunk.purged.size();
        if (chunk.failed) {
            result.error = chunk.error;
            result.keysAscending = false;
            std::reverse(result.purged.begin(), result.purged.end());
            return result;
        }
    }
    std::reverse(result.purged.begin(), result.purged.end());
    // Every counted line must have become a row or an archive entry.
    if (result.rows.size() != expected) {
        result.error =
            QStringLiteral("%1 calls read, %2 expected").arg(result.rows.size()).arg(expected);
        result.keysAscending = false;
        return result;
    }
    result.ok = true;
    return result;
}

namespace {

// A nicknames or MSN file: the header, then one row per non-empty line, read by readRow.
template <class Result, class ReadRow> Result parseRows(QByteArrayView bytes, ReadRow readRow)
{
    Result result;
    result.steps = 1;
    Source source(bytes);
    const std::vector<QByteArrayView> lines = splitLines(source.bytes());
    if (lines.empty()) {
        result.error = emptyFileError();
        return result;
    }
    Header header;
    if (!readHeader(source, lines.front(), &header, &result.error)) return result;
    for (size_t i = header.present ? 2 : 1; i < lines.size(); ++i) {
        ++result.steps;
        if (lines[i].isEmpty()) continue;
        FieldReader fields(lines[i], header.separator, &result.steps);
        result.rows.append(readRow(source, fields, header));
    }
    result.ok = true;
    return result;
}

} // namespace

NicksResult parseNicks(QByteArrayView bytes, Language language)
{
    const QString oldAction =
        actionWord(ActionFlag::Store, language) + u'|' + actionWord(ActionFlag::Popup, language);
    return parseRows<NicksResult>(
        bytes, [&oldAction](Source &source, FieldReader &fields, const Header &header) {
            NickRow row;
            row.nickname = source.decode(fields.take());
            row.number = source.shared(CallRow::Number, fields.take());
            row.sound = source.shared(NickRow::Sound, fields.take());
            row.action = source.shared(NickRow::Action, fields.take());
            if (!header.present) row.action = oldAction;
            return row;
        });
}

MsnResult parseMsn(QByteArrayView bytes)
{
    return parseRows<MsnResult>(bytes, [](Source &source, FieldReader &fields, const Header &) {
        MsnRow row;
        row.checked = fields.take() == "1";
        row.msn = source.decode(fields.take());
        row.nickname = source.decode(fields.take());
        row.sound = source.decode(fields.take());
        row.action = source.shared(MsnRow::Action, fields.take());
        return row;
    });
}

FileFormats FileFormats::fromLocale(const QLocale &locale)
{
    return FileFormats{locale, locale.dateFormat(QLocale::ShortFormat),
                       removeTimeZone(locale.timeFormat(QLocale::LongFormat))};
}

QByteArray formatCalls(const QList<CallRow> &rows, const std::vector<int> &order, Language language,
                       const FileFormats &formats, int *steps)
{
    return formatCalls(TRowChunks<CallRow>(rows), order, language, formats, steps);
}

QByteArray formatNicks(const QList<NickRow> &rows, const std::vector<int> &order, Language language,
                       int *steps)
{
    return formatNicks(TRowChunks<NickRow>(rows), order, language, steps);
}

QByteArray formatMsn(const QList<MsnRow> &rows, Language language, int *steps)
{
    return formatMsn(TRowChunks<MsnRow>(rows), language, steps);
}

QByteArray formatCalls(const TRowChunks<CallRow> &rows, const std::vector<int> &order,
                       Language language, const FileFormats &formats, int *steps)
{
    LineWriter out(rows.size() * 96 + 256);
    QStringList captions = callColumnCaptions(language);
    captions[0] = captions.at(CallRow::Date) + u'-' + captions.at(CallRow::Time);
    writeHeader(out, captions);

    const auto writeRows = [&](LineWriter &writer, size_t begin, size_t end) {
        DayCountFormatter format(formats.locale, formats.dateFormat, formats.timeFormat);
        for (size_t i = begin; i < end; ++i) {
            const CallRow &row = rows.at(order[i]);
            QString key = row.dateTime;
            const qsizetype comma = key.indexOf(u',');
            if (comma >= 0) key[comma] = u'.';
            double value = 0;
            const bool valid = DayCount::parseKey(key, &value);
            writer.field(key);
            writer.field(valid ? format.date(value) : QString());
            char16_t time[DayCountFormatter::TimeBufferSize];
            const qsizetype length = valid ? format.writeTime(value, time) : 0;
            writer.field(length >= 0 ? QStringView(time, length) : QStringView(format.time(value)));
            writer.field(row.number);
            writer.field(row.nickname);
            writer.field(row.town);
            writer.field(row.target);
            writer.field(row.status);
            writer.endLine();
        }
    };
    // A long list is written by two threads, each taking one half of the rows.
    const size_t count = order.size();
    if (count >= 20000 && std::thread::hardware_concurrency() > 1) {
        const size_t middle = count / 2;
        LineWriter second(qsizetype(count - middle) * 96);
        std::exception_ptr failure;
        std::thread helper([&] {
            try {
                writeRows(second, middle, count);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            writeRows(out, 0, middle);
        } catch (...) {
            helper.join();
            throw;
        }
        helper.join();
        if (failure) std::rethrow_exception(failure);
        out.append(second);
    } else {
        writeRows(out, 0, count);
    }
    if (steps) *steps += int(count);
    return out.bytes();
}

QByteArray formatNicks(const TRowChunks<NickRow> &rows, const std::vector<int> &order,
                       Language language, int *steps)
{
    LineWriter out(rows.size() * 96 + 256);
    writeHeader(out, nickColumnCaptions(language));
    for (const int index : order) {
        const NickRow &row = rows.at(index);
        out.field(row.nickname);
        out.field(row.number);
        out.field(row.sound);
        out.field(row.action);
        out.endLine();
        if (steps) ++*steps;
    }
    return out.bytes();
}

QByteArray formatMsn(const TRowChunks<MsnRow> &rows, Language language, int *steps)
{
    LineWriter out(rows.size() * 96 + 256);
    writeHeader(out, msnColumnCaptions(language).mid(1));
    for (const MsnRow &row : rows) {
        out.field(row.checked ? u"1" : u"0");
        out.field(row.msn);
        out.field(row.nickname);
        out.field(row.sound);
        out.field(row.action);
        out.endLine();
        if (steps) ++*steps;
    }
    return out.bytes();
}

} // namespace ListFormat

using Answer = ListPrompts::Answer;

namespace {

QString replaceExtension(const QString &fileName, const QString &extension)
{
    const QFileInfo info(fileName);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString dir = fileName.left(fileName.size() - name.size());
    return dir + base + extension;
}

// The lists and the archive are never read through a symbolic link (see askAboutLink).
constexpr AtomicFile::Links NoLinks = AtomicFile::Links::Refuse;

QString tail(const QString &error, int steps)
{
    return QStringLiteral(": ") + error + QStringLiteral(" (Errorcode ") + QString::number(steps) +
           u')';
}

} // namespace

namespace {

template <class Row> std::vector<QStringView> columnTexts(const TRowChunks<Row> &rows, int column)
{
    std::vector<QStringView> texts;
    texts.reserve(size_t(rows.size()));
    rows.forEach([&texts, column](const Row &row) { texts.push_back(*row.field(column)); });
    return texts;
}

} // namespace

TListFiles::TListFiles(TLists &lists)
    : fileFormats(ListFormat::FileFormats::fromLocale(lists.collator().locale())), FLists(lists),
      FWriter(std::make_unique<TListWriter>([this] {
          QMetaObject::invokeMethod(
              &FNotices, [this] { HandleResults(); }, Qt::QueuedConnection);
      }))
{
}

TListFiles::~TListFiles()
{
    // The writer ends after the jobs it has; nobody is asked any more.
    FWriter.reset();
}

QString TListFiles::backupName(const QString &fileName)
{
    return replaceExtension(fileName, QStringLiteral(".bak"));
}

QString TListFiles::archiveName(const QString &fileName)
{
    return replaceExtension(fileName, QStringLiteral(".old"));
}

QString TListFiles::datedCopyName(const QString &fileName) const
{
    const QString base =
        fileName + u'.' + FLists.now().toString(QStringLiteral("dd.MM.yyyy_hh.mm.ss"));
    // Dated copies are never removed, so a second one within the same second gets a number.
    QString name = base;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = base + u'_' + QString::number(n);
    return name;
}

QString TListFiles::text(QStringView message) const
{
    return UiText(UiForm::Messages, message, FLists.language());
}

bool TListFiles::keepDatedCopy(const QString &fileName)
{
    QString error;
    if (AtomicFile::copy(fileName, datedCopyName(fileName), &error)) return true;
    FLists.prompts().inform(text(u"DatedCopyFailed") + QStringLiteral(": ") + error);
    return false;
}

bool TListFiles::askAboutLoad(ListKind kind, const QString &fileName, const QString &message,
                              bool *retry)
{
    // Ignore keeps a dated copy of the damaged file first; without that copy the next save
    // would destroy it, so the question comes again.
    for (;;) {
        const Answer answer = FLists.prompts().askFileError(message);
        *retry = answer == Answer::Retry;
        if (answer != Answer::Ignore) return false;
        const bool link = QFileInfo(fileName).isSymLink();
        if (!link && !QFileInfo::exists(fileName)) return true;
        // The next save replaces a link, not the file it points to: nothing to keep then.
        if (link || keepDatedCopy(fileName)) {
            FTrusted[int(kind)] = false;
            return true;
        }
    }
}

std::optional<bool> TListFiles::askAboutLink(ListKind kind, const QString &fileName)
{
    // In a directory others can write, a link may lead to any file: its content would become
    // the list, and the user's own answers (Ignore) would copy it around.
    for (;;) {
        if (!QFileInfo(fileName).isSymLink()) return std::nullopt;
        bool retry = false;
        const bool ignored =
            askAboutLoad(kind, fileName, text(u"ListIsLink").arg(fileName), &retry);
        if (!retry) return ignored;
    }
}

bool TListFiles::writeArchive(const QString &fileName, const QStringList &purged)
{
    const QString archive = archiveName(fileName);
    QString error;
    QByteArray old;
    if (QFileInfo::exists(archive) &&
        !AtomicFile::read(archive, &old, &error, MaxFileSize, NoLinks)) {
        FLists.prompts().inform(text(u"SaveCalls") + QStringLiteral(" (") + archive +
                                QStringLiteral("): ") + error);
        return false;
    }
    QString content;
    for (const QString &line : purged)
        content += line + QStringLiteral("\r\n");
    content += TextCodec::decode(old);
    if (!AtomicFile::write(archive, content.toUtf8(), &error)) {
        FLists.prompts().inform(text(u"SaveCalls") + QStringLiteral(" (") + archive +
                                QStringLiteral("): ") + error);
        return false;
    }
    return true;
}

bool TListFiles::LoadCalls(const QString &fileName)
{
    if (const std::optional<bool> goOn = askAboutLink(ListKind::Calls, fileName)) {
        FLists.calls().clear();
        return *goOn;
    }
    if (!QFileInfo::exists(fileName)) return true;
    SettingsStore &settings = FLists.settings();
    TCallList &calls = FLists.calls();
    for (;;) {
        calls.clear();
        ListFormat::CallsResult result;
        QByteArray bytes;
        int steps = 1;
        if (AtomicFile::read(fileName, &bytes, &result.error, MaxFileSize, NoLinks)) {
            ++steps;
            ListFormat::CallsOptions options;
            options.clearCalls = settings.settings.clearCalls;
            options.clearCallDays = settings.settings.clearCallDays;
            options.now = DayCount::fromDateTime(FLists.now());
            result = ListFormat::parseCalls(bytes, options);
        }
        steps += result.steps;
        calls.setRows(std::move(result.rows));
        // Files are written in key order: then the default sort has nothing to do.
        if (result.keysAscending && FLists.collator().isPlain(u"0123456789."))
            calls.setSortedBy(-1);

        bool ignored = false;
        if (!result.ok) {
            const QString message = QFileInfo::exists(fileName)
                                        ? text(u"CallsInvalid")
                                        : text(u"CallsGone") + tail(result.error, steps);
            bool retry = false;
            ignored = askAboutLoad(ListKind::Calls, fileName, message, &retry);
            if (retry) continue;
            if (!ignored) {
                // Never write a partly read list over its file: the program ends here.
                FLists.SortCalls();
                return false;
            }
        } else {
            FTrusted[int(ListKind::Calls)] = true;
        }

        bool save = result.keyCommaFixed || (ignored && QFileInfo::exists(fileName));
        if (settings.settings.clearCalls && !result.purged.isEmpty()) {
            // The purged calls leave the list only once the archive holds them.
            if (writeArchive(fileName, result.purged))
                save = true;
            else
                calls.setRows(calls.rows().toList() + result.purgedRows);
        }
        FLists.SortCalls();
        // In the background: a long list would hold up the start.
        if (save) RequestSave(ListKind::Calls, fileName);
        return true;
    }
}

bool TListFiles::LoadNicks(const QString &fileName)
{
    TNickList &nicks = FLists.nicks();
    nicks.clear();
    if (const std::optional<bool> goOn = askAboutLink(ListKind::Nicks, fileName)) return *goOn;
    if (!QFileInfo::exists(fileName)) return true;
    for (;;) {
        ListFormat::NicksResult result;
        QByteArray bytes;
        int steps = 1;
        if (AtomicFile::read(fileName, &bytes, &result.error, MaxFileSize, NoLinks)) {
            ++steps;
            result = ListFormat::parseNicks(bytes, FLists.language());
        }
        steps += result.steps;
        nicks.setRows(std::move(result.rows));
        if (!result.ok) {
            bool retry = false;
            const bool ignored = askAboutLoad(
                ListKind::Nicks, fileName, text(u"NicksLoad") + tail(result.error, steps), &retry);
            if (retry) continue;
            if (!ignored) return false;
        } else {
            FTrusted[int(ListKind::Nicks)] = true;
        }
        FLists.SortNicks();
        return true;
    }
}

bool TListFiles::LoadMsn(const QString &fileName)
{
    if (const std::optional<bool> goOn = askAboutLink(ListKind::Msn, fileName)) {
        FLists.msns().clear();
        return *goOn;
    }
    if (!QFileInfo::exists(fileName)) return true;
    TMsnList &msns = FLists.msns();
    for (;;) {
        msns.clear();
        ListFormat::MsnResult result;
        QByteArray bytes;
        int steps = 1;
        if (AtomicFile::read(fileName, &bytes, &result.error, MaxFileSize, NoLinks)) {
            ++steps;
            result = ListFormat::parseMsn(bytes);
        }
        steps += result.steps;
        msns.setRows(std::move(result.rows));
        if (!result.ok) {
            bool retry = false;
            const bool ignored = askAboutLoad(ListKind::Msn, fileName,
                                              text(u"MsnLoad") + tail(result.error, steps), &retry);
            if (retry) continue;
            return ignored;
        }
        FTrusted[int(ListKind::Msn)] = true;
        return true;
    }
}

TListWriter::Result TListFiles::writeList(ListKind kind, const QString &fileName,
                                          const std::function<QByteArray(int *steps)> &build)
{
    // Runs in the writer's thread: files only, no questions.
    TListWriter::Result result;
    int steps = 1;
    QString error;
    // A file that failed to load stays out of the backup: the older backup is better.
    if (FTrusted[int(kind)] && QFileInfo::exists(fileName) &&
        !AtomicFile::backup(fileName, backupName(fileName), &error))
        result.backupError = error;
    ++steps;
    QByteArray bytes;
    try {
        bytes = build(&steps);
    } catch (const std::exception &e) {
        result.error = QString::fromLocal8Bit(e.what());
        result.steps = steps;
        return result;
    }
    ++steps;
    result.steps = steps;
    if (AtomicFile::write(fileName, bytes, &error)) {
        FTrusted[int(kind)] = true;
        result.ok = true;
        result.bytes = bytes.size();
    } else {
        result.error = error;
    }
    return result;
}

void TListFiles::RequestSave(ListKind kind, const QString &fileName)
{
    TListWriter::Job job;
    job.list = int(kind);
    const Language language = FLists.language();
    switch (kind) {
    case ListKind::Calls: {
        FLists.SortCalls(); // the user's order; the file gets the key order below
        // A snapshot: the rows are shared, not copied (see TRowChunks).
        job.run = [this, fileName, language, rows = FLists.calls().rows(),
                   ascending = FLists.calls().sortedBy() == -1, locale = FLists.collator().locale(),
                   formats = fileFormats] {
            return writeList(ListKind::Calls, fileName, [&](int *steps) {
                // Rows go out in ascending key order, which the list often is in already.
                std::vector<int> order(size_t(rows.size()));
                std::iota(order.begin(), order.end(), 0);
                if (!ascending) order = TextCollator(locale).order(columnTexts(rows, 0), false);
                return ListFormat::formatCalls(rows, order, language, formats, steps);
            });
        };
        break;
    }
    case ListKind::Nicks: {
        FLists.SortNicks();
        job.run = [this, fileName, language, rows = FLists.nicks().rows(),
                   ascending = FLists.nicks().sortedBy() == -100,
                   locale = FLists.collator().locale()] {
            return writeList(ListKind::Nicks, fileName, [&](int *steps) {
                std::vector<int> order(size_t(rows.size()));
                std::iota(order.begin(), order.end(), 0);
                if (!ascending)
                    order = TextCollator(locale).order(columnTexts(rows, NickRow::Nickname), false);
                return ListFormat::formatNicks(rows, order, language, steps);
            });
        };
        break;
    }
    case ListKind::Msn:
        job.run = [this, fileName, language, rows = FLists.msns().rows()] {
            return writeList(ListKind::Msn, fileName, [&](int *steps) {
                return ListFormat::formatMsn(rows, language, steps);
            });
        };
        break;
    }
    FOutcome[int(kind)] = std::nullopt;
    FWriter->Submit(std::move(job));
}

bool TListFiles::WaitForSaves()
{
    bool allOk = true;
    for (;;) {
        FWriter->WaitIdle();
        const std::vector<TListWriter::Result> results = FWriter->TakeResults();
        if (results.empty()) break;
        for (const TListWriter::Result &result : results)
            handleResult(result);
    }
    for (const std::optional<bool> &outcome : FOutcome)
        if (outcome && !*outcome) allOk = false;
    return allOk;
}

void TListFiles::HandleResults()
{
    // A question below runs an event loop, which may bring the next notice: one at a time.
    if (FHandling) return;
    FHandling = true;
    for (;;) {
        const std::vector<TListWriter::Result> results = FWriter->TakeResults();
        if (results.empty()) break;
        for (const TListWriter::Result &result : results)
            handleResult(result);
    }
    FHandling = false;
}

void TListFiles::handleResult(const TListWriter::Result &result)
{
    const auto kind = ListKind(result.list);
    ListPrompts &prompts = FLists.prompts();
    const QString backupMessage = text(u"BackupFailed");
    if (!result.backupError.isEmpty())
        prompts.inform(backupMessage + QStringLiteral(": ") + result.backupError +
                       (kind == ListKind::Msn ? QString() : QStringLiteral(" (Errorcode 0)")));
    if (result.ok) {
        FOutcome[int(kind)] = true;
        return;
    }
    const QString message = kind == ListKind::Calls   ? text(u"SaveCalls")
                            : kind == ListKind::Nicks ? text(u"SaveNicks")
                                                      : text(u"SaveMsn");
    const QString fileName = FLists.fileName(kind);
    const Answer answer = prompts.askFileError(message + tail(result.error, result.steps));
    // The rows stay in memory either way; Retry writes them as they are now.
    if (answer == Answer::Retry) {
        RequestSave(kind, fileName);
        return;
    }
    if (prompts.askRestoreBackup(text(u"RestoreQuestion"))) {
        FWriter->WaitIdle(); // no save of this file may run under the copy
        QString restoreError;
        if (AtomicFile::copy(backupName(fileName), fileName, &restoreError))
            FTrusted[int(kind)] = true;
        else
            prompts.inform(backupMessage + tail(restoreError, result.steps));
    }
    FOutcome[int(kind)] = answer == Answer::Ignore;
}

bool TListFiles::saveNow(ListKind kind, const QString &fileName)
{
    RequestSave(kind, fileName);
    WaitForSaves();
    return FOutcome[int(kind)].value_or(true);
}

bool TListFiles::SaveCalls(const QString &fileName)
{
    return saveNow(ListKind::Calls, fileName);
}

bool TListFiles::SaveNicks(const QString &fileName)
{
    return saveNow(ListKind::Nicks, fileName);
}

bool TListFiles::SaveMsn(const QString &fileName)
{
    return saveNow(ListKind::Msn, fileName);
}
