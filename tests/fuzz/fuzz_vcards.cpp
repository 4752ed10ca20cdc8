// A vCard file of any bytes, read as the files of a vCard source are: split into cards, each card
// read by the address book's library, every number of every contact brought into the form of the
// line's numbers. Each card runs from a BEGIN:VCARD line to an END:VCARD line, and all cards
// together are no longer than the text with its line ends written as CR LF and one END:VCARD
// added for a card cut short. A number in the line's form holds digits and "+" only and
// begins with "0" or "++", as the line's numbers do (one of fewer than two characters stays as
// it is; one without a digit is empty).

#include <glib.h>

#include "lookup/OutlookIndex.h"
#include "lookup/VCardFile.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <vector>

// The address book's library (evolution-data-server 3.46) loses a growing string buffer when
// it parses some malformed lines; that is no fault of what is tested here. GLib has no frame
// pointers, so the buffer is known only by g_realloc, which the contacts' own objects (made
// by g_malloc0) never come from.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:g_realloc\n";
}

// Those losses would make the leak check after an input scan the whole heap after nearly
// every input, which slows the run tenfold; the check at the end still finds any loss of ours.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static std::vector<char *> arguments(*argv, *argv + *argc);
    static char noCheckPerInput[] = "-detect_leaks=0";
    arguments.insert(arguments.begin() + 1, noCheckPerInput);
    arguments.push_back(nullptr);
    *argc = int(arguments.size() - 1);
    *argv = arguments.data();
    // The library warns of every malformed line, which here is most of them.
    g_log_set_handler(
        "libebook-contacts", G_LOG_LEVEL_WARNING,
        [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    return 0;
}

namespace {

bool isCardLine(QStringView line, QStringView word)
{
    return line.trimmed().compare(word, Qt::CaseInsensitive) == 0;
}

bool wellFormed(const QString &card)
{
    if (!card.endsWith(u"\r\n")) return false;
    const QList<QStringView> lines = QStringView(card).chopped(2).split(u"\r\n");
    return isCardLine(lines.first(), u"BEGIN:VCARD") && isCardLine(lines.last(), u"END:VCARD");
}

bool inLineForm(const QString &number)
{
    for (const QChar c : number) {
        if (!(c >= u'0' && c <= u'9') && c != u'+') return false;
    }
    return number.isEmpty() || number.startsWith(u'0') || number.startsWith(u"++");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString text = TextCodec::decode(bytes);
    const QStringList cards = SplitVCards(text);
    qsizetype length = 0;
    for (const QString &card : cards) {
        if (!wellFormed(card)) __builtin_trap();
        length += card.size();
    }
    const qsizetype lines = text.count(u'\n') + 1;
    if (length > text.size() + 2 * lines + qsizetype(sizeof "END:VCARD\r\n")) __builtin_trap();

    std::vector<TContactItem> contacts;
    ReadVCards(bytes, QStringLiteral("contacts.vcf"), contacts);
    if (contacts.size() > size_t(cards.size())) __builtin_trap();
    const QString countryCode = QStringLiteral("++49");
    for (const TContactItem &contact : contacts) {
        contact.DisplayName();
        for (int field = 0; field < PhoneFieldCount; ++field) {
            const QString phone = contact.Phone(PhoneField(field));
            const QString number = NormaliseContactNumber(phone, countryCode);
            // Shorter than two characters, a number is taken as it stands.
            if (phone.trimmed().size() >= 2 && !inLineForm(number)) __builtin_trap();
        }
    }
    return 0;
}
