#include "app/about.h"

#include "platform/TrayIcons.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel *plainLabel(const QString &text, const char *name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

TAboutBox::TAboutBox(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Info"));
    setWindowIcon(platform::ProgramIcon());

    auto *layout = new QVBoxLayout(this);
    auto *icon = new QLabel(this);
    icon->setPixmap(platform::ProgramIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    QLabel *maker = plainLabel(QStringLiteral("Tremlow"), "lbMaker", this);
    QFont big = maker->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    maker->setFont(big);
    layout->addWidget(maker);
    layout->addWidget(plainLabel(QStringLiteral(".Software."), "lbSoftware", this));
    FProduct = plainLabel(QStringLiteral("Tremlow Corvane"), "ProductName", this);
    FProduct->setWordWrap(true);
    layout->addWidget(FProduct);
    FVersion = plainLabel(QStringLiteral("Version %1").arg(QLatin1String(CORVANE_VERSION)),
                          "Version", this);
    layout->addWidget(FVersion);
    FPlatformNote = plainLabel(UiText(UiForm::About, u"lbPlatformNote", Language::German),
                               "lbPlatformNote", this);
    FPlatformNote->setWordWrap(true);
    FPlatformNote->hide();
    layout->addWidget(FPlatformNote);
    setMinimumWidth(320);

    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, &QDialog::accept);
}

void TAboutBox::ApplyLanguage(Language language)
{
    setWindowTitle(UiText(UiForm::About, u"Caption", language));
    FPlatformNote->setText(UiText(UiForm::About, u"lbPlatformNote", language));
}

void TAboutBox::SetPlatformNote(bool shown)
{
    FPlatformNote->setVisible(shown);
}

void TAboutBox::SetProductLine(const QString &text)
{
    FProduct->setText(text);
}

void TAboutBox::SetDebug(bool debug)
{
    const QString version = QStringLiteral("Version %1").arg(QLatin1String(CORVANE_VERSION));
    FVersion->setText(debug ? version + QStringLiteral(" DEBUG") : version);
}

void TAboutBox::ShowModal(const QString &productLine)
{
    SetProductLine(productLine);
    if (!isVisible()) exec();
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FTimer.start(CloseAfterMs);
}
