// The address-book module's entry: libcorvane-contacts.so exports this one function.
#include "lookup/ContactsModule.h"
#include "lookup/EdsConnect.h"
#include "lookup/VCardFile.h"

#include <QtGlobal>

namespace {

// The module's side of TContactsModule.
class TEdsModule final : public TContactsModule
{
public:
    std::unique_ptr<TOutlookConnect> NewConnection() override { return NewEdsConnection(); }
    bool ReadVCardSource(const QString &path, std::vector<TContactItem> &contacts, QString *error,
                         const TVCardLimits &limits) override
    {
        return ::ReadVCardSource(path, contacts, error, limits);
    }
    bool ReadVCards(const QByteArray &bytes, const QString &file,
                    std::vector<TContactItem> &contacts, qsizetype maxCards) override
    {
        return ::ReadVCards(bytes, file, contacts, maxCards);
    }
    QStringList SplitVCards(const QString &text) override { return ::SplitVCards(text); }
};

} // namespace

extern "C" Q_DECL_EXPORT TContactsModule *corvane_contacts_module(int interfaceVersion)
{
    static TEdsModule module;
    return interfaceVersion == TContactsModule::InterfaceVersion ? &module : nullptr;
}
