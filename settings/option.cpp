#include "settings/option.h"

#include "lists/lists.h"
#include "phone/isdntool.h"
#include "platform/TrayIcons.h"
#include "platform/WindowOpacity.h"
#include "settings/OptionPrompts.h"
#include "settings/RouterAddress.h"
#include "settings/SettingsStore.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStyleOptionFocusRect>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A number with spin buttons that may also be typed. A typed number beyond the range is
// answered when the field is left or Enter is pressed: the field goes back to the value it had
// and OnOutOfRange tells the user; the dialog does not close on that Enter.
class TNumberBox : public QSpinBox
{
public:
    TNumberBox(int maximum, const char *editName, QWidget *parent) : QSpinBox(parent)
    {
        lineEdit()->setObjectName(QLatin1String(editName));
        setRange(0, maximum);
        // The value changes only when the typing is done, so the old one is there to go back to.
        setKeyboardTracking(false);
    }

    std::function<void(qint64 typed)> OnOutOfRange;

protected:
    QValidator::State validate(QString &text, int &pos) const override
    {
        if (typedBeyondRange(text)) return QValidator::Intermediate;
        return QSpinBox::validate(text, pos);
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        answerBeyondRange();
        QSpinBox::focusOutEvent(event);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && answerBeyondRange()) {
            event->accept();
            return;
        }
        QSpinBox::keyPressEvent(event);
    }

private:
    bool typedBeyondRange(const QString &text) const
    {
        const QString digits = text.trimmed();
        if (digits.isEmpty() || digits.size() > 18) return false;
        if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
            return false;
        return digits.toLongLong() > maximum();
    }
    bool answerBeyondRange()
    {
        const QString text = lineEdit()->text();
        if (!typedBeyondRange(text)) return false;
        lineEdit()->setText(textFromValue(value()));
        if (OnOutOfRange) OnOutOfRange(text.trimmed().toLongLong());
        return true;
    }
};

// A colour square that opens the colour chooser when clicked or when Space is pressed on it.
class TColorSquare : public QAbstractButton
{
public:
    explicit TColorSquare(QWidget *parent) : QAbstractButton(parent)
    {
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setFixedSize(48, 24);
    }
    QColor color() const { return FColor; }
    void setColor(const QColor &color)
    {
        FColor = color;
        setAccessibleDescription(color.name());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect square = rect().adjusted(2, 2, -3, -3);
        painter.fillRect(square, FColor);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(square);
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }

private:
    QColor FColor;
};

// The picture's path in a sunken panel, shortened in the middle to fit.
class TPathLabel : public QLabel
{
public:
    explicit TPathLabel(QWidget *parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(160);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect area = contentsRect().adjusted(3, 0, -3, 0);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

QToolButton *toolButton(QWidget *parent, const char *name, QStyle::StandardPixmap icon)
{
    auto *button = named(new QToolButton(parent), name);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QLineEdit *readOnlyEdit(QWidget *parent, const char *name)
{
    auto *edit = named(new QLineEdit(parent), name);
    edit->setReadOnly(true);
    edit->setMinimumWidth(220);
    return edit;
}

// "*.png" and the like for every format the image plug-ins read.
QStringList readablePatterns()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format).toLower());
    patterns.removeDuplicates();
    return patterns;
}

// An icon from a file, or a null icon when the file holds no image.
QIcon readIcon(const QString &file)
{
    if (file.isEmpty()) return QIcon();
    QImageReader reader(file);
    if (reader.read().isNull()) return QIcon();
    return QIcon(file);
}

} // namespace

QColor ColorFromSetting(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

int SettingFromColor(const QColor &color)
{
    return color.red() | (color.green() << 8) | (color.blue() << 16);
}

QStringList CountryCodeChoices(const AreaCodeTable &table)
{
    QStringList codes = table.CountryCodes();
    codes.sort();
    return codes;
}

TOptDlg::TOptDlg(SettingsStore &settings, TLists &lists, OptionPrompts &prompts, QWidget *parent)
    : QDialog(parent), FSettings(settings), FLists(lists), FPrompts(prompts),
      FLanguage(lists.language())
{
    setObjectName(QStringLiteral("OptDlg"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    CreatePages();
    FStartIconErrors = LoadIconSets();
    ApplyLanguage(FLanguage);
}

TOptDlg::~TOptDlg() = default;

// ---- Pages ------------------------------------------------------------------------------

void TOptDlg::CreatePages()
{
    PageControl1 = named(new QTabWidget(this), "PageControl1");
    tsGeneral = CreateGeneralPage();
    tsOnCall = CreateCallsPage();
    tsIcon = CreateIconPage();
    tsColor = CreateColorPage();
    tsTAPI = CreateTapiPage();
    tsOutlook = CreateOutlookPage();
    for (QWidget *page : {tsGeneral, tsOnCall, tsIcon, tsColor, tsTAPI, tsOutlook})
        PageControl1->addTab(page, QString());
    PageControl1->setCurrentWidget(tsGeneral);

    // The next and the previous page from anywhere in the dialog, also from lists and fields
    // that keep Ctrl+Tab for themselves.
    auto turnPage = [this](int step) {
        const int count = PageControl1->count();
        PageControl1->setCurrentIndex((PageControl1->currentIndex() + step + count) % count);
    };
    for (const QKeySequence &keys :
         {QKeySequence(Qt::CTRL | Qt::Key_PageDown), QKeySequence(Qt::CTRL | Qt::Key_Tab)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
                [turnPage] { turnPage(1); });
    for (const QKeySequence &keys : {QKeySequence(Qt::CTRL | Qt::Key_PageUp),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
                [turnPage] { turnPage(-1); });

    OKBtn = named(new QPushButton(this), "OKBtn");
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TOptDlg::OKBtnClick);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addWidget(OKBtn, 0, Qt::AlignHCenter);
    // A fixed size that follows the captions of the language.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget *TOptDlg::CreateGeneralPage()
{
    auto *page = named(new QWidget, "tsGeneral");

    LangGroup = named(new QGroupBox(page), "LangGroup");
    auto *langLayout = new QHBoxLayout(LangGroup);
    for (int i = 0; i < 2; ++i) {
        LangButtons[i] = new QRadioButton(LangGroup);
        LangButtons[i]->setObjectName(QStringLiteral("LangGroup.%1").arg(i));
        langLayout->addWidget(LangButtons[i]);
        connect(LangButtons[i], &QRadioButton::clicked, this, [this, i] { LangGroupClick(i); });
    }

    gbDiv = named(new QGroupBox(page), "gbDiv");
    auto *divLayout = new QVBoxLayout(gbDiv);
    StayOnTopBox = named(new QCheckBox(gbDiv), "StayOnTopBox");
    NumberGroupBox = named(new QCheckBox(gbDiv), "NumberGroupBox");
    cbCloseBtn = named(new QCheckBox(gbDiv), "cbCloseBtn");
    cbGetFocus = named(new QCheckBox(gbDiv), "cbGetFocus");
    cbScreensaver = named(new QCheckBox(gbDiv), "cbScreensaver");
    for (QWidget *w : {StayOnTopBox, NumberGroupBox, cbCloseBtn, cbGetFocus, cbScreensaver})
        divLayout->addWidget(w);
    connect(cbCloseBtn, &QCheckBox::clicked, this, [this](bool on) {
        FSettings.settings.showClose = on;
        PopupAppearance();
    });

    gbStart = named(new QGroupBox(page), "gbStart");
    auto *startLayout = new QGridLayout(gbStart);
    LoadBox = named(new QCheckBox(gbStart), "LoadBox");
    NagBox = named(new QCheckBox(gbStart), "NagBox");
    cbClearCall = named(new QCheckBox(gbStart), "cbClearCall");
    auto *days = new TNumberBox(32000, "edDays", gbStart);
    udDays = named<QSpinBox>(days, "udDays");
    days->OnOutOfRange = [this](qint64 typed) { NumberOutOfRange(udDays, typed); };
    startLayout->addWidget(LoadBox, 0, 0, 1, 2);
    startLayout->addWidget(NagBox, 1, 0, 1, 2);
    startLayout->addWidget(cbClearCall, 2, 0);
    startLayout->addWidget(udDays, 2, 1);
    startLayout->setRowStretch(3, 1);

    gbLookup = named(new QGroupBox(page), "gbLookup");
    auto *lookupLayout = new QGridLayout(gbLookup);
    cbBuiltIn = named(new QCheckBox(gbLookup), "cbBuiltIn");
    lbLookupURL = named(new QLabel(gbLookup), "lbLookupURL");
    edLookupURL = named(new QLineEdit(gbLookup), "edLookupURL");
    edLookupURL->setPlaceholderText(QStringLiteral("https://"));
    lbLookupURL->setBuddy(edLookupURL);
    // The number of every unknown caller goes to the server: over plain HTTP anyone on the way
    // reads it.
    lbLookupPlainHttp = named(new QLabel(gbLookup), "lbLookupPlainHttp");
    lbLookupPlainHttp->setTextFormat(Qt::PlainText);
    lbLookupPlainHttp->setWordWrap(true);
    lbLookupPlainHttp->hide();
    connect(edLookupURL, &QLineEdit::textChanged, this, [this](const QString &address) {
        lbLookupPlainHttp->setVisible(
            address.trimmed().startsWith(QLatin1String("http://"), Qt::CaseInsensitive));
    });
    edLookupDll = readOnlyEdit(gbLookup, "edLookupDll");
    btnLookupLoad = toolButton(gbLookup, "btnLookupLoad", QStyle::SP_DialogOpenButton);
    btnLookupDLLClear = toolButton(gbLookup, "btnLookupDLLClear", QStyle::SP_DialogDiscardButton);
    lookupLayout->addWidget(cbBuiltIn, 0, 0, 1, 3);
    auto *server = new QHBoxLayout;
    server->addWidget(lbLookupURL);
    server->addWidget(edLookupURL, 1);
    lookupLayout->addLayout(server, 1, 0, 1, 3);
    lookupLayout->addWidget(lbLookupPlainHttp, 2, 0, 1, 3);
    lookupLayout->addWidget(edLookupDll, 3, 0);
    lookupLayout->addWidget(btnLookupLoad, 3, 1);
    lookupLayout->addWidget(btnLookupDLLClear, 3, 2);
    connect(cbBuiltIn, &QCheckBox::clicked, this, &TOptDlg::cbBuiltInClick);
    connect(btnLookupLoad, &QToolButton::clicked, this, &TOptDlg::btnLookupLoadClick);
    connect(btnLookupDLLClear, &QToolButton::clicked, this, &TOptDlg::btnLookupDLLClearClick);
    // The server follows the field at once; an address it cannot use stays in the field, as
    // typed, for OK to refuse.
    connect(edLookupURL, &QLineEdit::editingFinished, this, [this] {
        const QString address = edLookupURL->text().trimmed();
        QString &stored = FSettings.settings.reverseLookupUrl;
        if (address == stored || !LookupUrlUsable(address)) return;
        stored = address;
        if (cbBuiltIn->isChecked() && OnSelectLookupSource) OnSelectLookupSource(true);
    });

    gbLine = named(new QGroupBox(page), "gbLine");
    auto *lineLayout = new QGridLayout(gbLine);
    lbRouterHost = named(new QLabel(gbLine), "lbRouterHost");
    lbRouterHost->setTextFormat(Qt::PlainText);
    edRouterHost = named(new QLineEdit(gbLine), "edRouterHost");
    lbRouterHost->setBuddy(edRouterHost);
    lbLineHint = named(new QLabel(gbLine), "lbLineHint");
    lbLineHint->setTextFormat(Qt::PlainText);
    lineLayout->addWidget(lbRouterHost, 0, 0);
    lineLayout->addWidget(edRouterHost, 0, 1);
    lineLayout->addWidget(lbLineHint, 1, 0, 1, 2);
    lineLayout->setColumnStretch(1, 1);

    auto *layout = new QGridLayout(page);
    layout->addWidget(LangGroup, 0, 0);
    layout->addWidget(gbDiv, 1, 0);
    layout->addWidget(gbStart, 0, 1, 2, 1);
    layout->addWidget(gbLookup, 2, 0, 1, 2);
    layout->addWidget(gbLine, 3, 0, 1, 2);
    layout->setRowStretch(4, 1);
    return page;
}

QWidget *TOptDlg::CreateCallsPage()
{
    auto *page = named(new QWidget, "tsOnCall");
    gbOnCall = named(new QGroupBox(page), "gbOnCall");
    auto *group = new QGridLayout(gbOnCall);
    constexpr int indent = 20;

    cbPopup = named(new QCheckBox(gbOnCall), "cbPopup");
    DauerLabel = named(new QLabel(gbOnCall), "DauerLabel");
    auto *duration = new TNumberBox(32000, "edDuration", gbOnCall);
    udDuration = named<QSpinBox>(duration, "udDuration");
    duration->OnOutOfRange = [this](qint64 typed) { NumberOutOfRange(udDuration, typed); };
    DauerLabel->setBuddy(udDuration);
    group->addWidget(cbPopup, 0, 0);
    auto *durationRow = new QHBoxLayout;
    durationRow->addWidget(DauerLabel);
    durationRow->addWidget(udDuration);
    durationRow->addStretch();
    group->addLayout(durationRow, 0, 1);

    cbCloseOnDisconnect = named(new QCheckBox(gbOnCall), "cbCloseOnDisconnect");
    cbCloseOnConnect = named(new QCheckBox(gbOnCall), "cbCloseOnConnect");
    cbCloseOnReject = named(new QCheckBox(gbOnCall), "cbCloseOnReject");
    cbCloseOnBusy = named(new QCheckBox(gbOnCall), "cbCloseOnBusy");
    cbKeepUnknownOpen = named(new QCheckBox(gbOnCall), "cbKeepUnknownOpen");
    int row = 1;
    for (QCheckBox *box : {cbCloseOnDisconnect, cbCloseOnConnect, cbCloseOnReject, cbCloseOnBusy,
                           cbKeepUnknownOpen}) {
        auto *indented = new QHBoxLayout;
        indented->addSpacing(indent);
        indented->addWidget(box);
        group->addLayout(indented, row++, 0, 1, 2);
    }
    cbMultipleCalls = named(new QCheckBox(gbOnCall), "cbMultipleCalls");
    cbBalloon = named(new QCheckBox(gbOnCall), "cbBalloon");
    cbShowReject = named(new QCheckBox(gbOnCall), "cbShowReject");
    ScrollLEDBox = named(new QCheckBox(gbOnCall), "ScrollLEDBox");
    cbStoreNoNum = named(new QCheckBox(gbOnCall), "cbStoreNoNum");
    for (QCheckBox *box : {cbMultipleCalls, cbBalloon, cbShowReject, ScrollLEDBox, cbStoreNoNum})
        group->addWidget(box, row++, 0, 1, 2);

    lbCutNumber = named(new QLabel(gbOnCall), "lbCutNumber");
    auto *cut = new TNumberBox(100, "edCutNumber", gbOnCall);
    udCutNumber = named<QSpinBox>(cut, "udCutNumber");
    cut->OnOutOfRange = [this](qint64 typed) { NumberOutOfRange(udCutNumber, typed); };
    lbCutNumber->setBuddy(udCutNumber);
    group->addWidget(lbCutNumber, row, 0);
    group->addWidget(udCutNumber, row, 1, Qt::AlignLeft);

    for (QCheckBox *box : {cbPopup, cbBalloon, cbMultipleCalls})
        connect(box, &QCheckBox::toggled, this, &TOptDlg::UpdatePopupOptions);
    connect(udDuration, &QSpinBox::valueChanged, this, &TOptDlg::UpdatePopupOptions);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(gbOnCall);
    layout->addStretch();
    return page;
}

QWidget *TOptDlg::CreateIconPage()
{
    auto *page = named(new QWidget, "tsIcon");
    IconLabel = named(new QLabel(page), "IconLabel");
    EnabledIconsListView = named(new QListWidget(page), "EnabledIconsListView");
    EnabledIconsListView->setViewMode(QListView::IconMode);
    EnabledIconsListView->setIconSize(QSize(32, 32));
    EnabledIconsListView->setGridSize(QSize(56, 52));
    EnabledIconsListView->setMovement(QListView::Static);
    EnabledIconsListView->setFlow(QListView::LeftToRight);
    EnabledIconsListView->setSelectionMode(QAbstractItemView::SingleSelection);
    EnabledIconsListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    EnabledIconsListView->setFixedHeight(72);
    for (int slot = 0; slot < platform::TrayIconSlots; ++slot) {
        auto *item = new QListWidgetItem(EnabledIconsListView);
        item->setData(Qt::AccessibleTextRole, QString::number(slot + 1));
    }
    btnSelect = named(new QPushButton(page), "btnSelect");
    btnLoad = named(new QPushButton(page), "btnLoad");
    for (QPushButton *button : {btnSelect, btnLoad})
        button->setAutoDefault(false);
    connect(btnSelect, &QPushButton::clicked, this, &TOptDlg::btnSelectClick);
    connect(btnLoad, &QPushButton::clicked, this, &TOptDlg::btnLoadClick);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(IconLabel);
    layout->addWidget(EnabledIconsListView);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnSelect);
    buttons->addWidget(btnLoad);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addStretch();
    return page;
}

QWidget *TOptDlg::CreateColorPage()
{
    auto *page = named(new QWidget, "tsColor");

    gbColor = named(new QGroupBox(page), "gbColor");
    auto *colors = new QGridLayout(gbColor);
    lbBGColor = named(new QLabel(gbColor), "lbBGColor");
    shBg = named<QAbstractButton>(new TColorSquare(gbColor), "shBg");
    lbFontColor = named(new QLabel(gbColor), "lbFontColor");
    shFontColor = named<QAbstractButton>(new TColorSquare(gbColor), "shFontColor");
    lbBGColor->setBuddy(shBg);
    lbFontColor->setBuddy(shFontColor);
    colors->addWidget(lbBGColor, 0, 0);
    colors->addWidget(shBg, 0, 1);
    colors->addWidget(lbFontColor, 1, 0);
    colors->addWidget(shFontColor, 1, 1);
    colors->setColumnStretch(2, 1);
    connect(shBg, &QAbstractButton::clicked, this, &TOptDlg::shBgClick);
    connect(shFontColor, &QAbstractButton::clicked, this, &TOptDlg::shFontColorClick);

    gbPic = named(new QGroupBox(page), "gbPic");
    auto *pic = new QGridLayout(gbPic);
    cbPic = named(new QCheckBox(gbPic), "cbPic");
    cbStretch = named(new QCheckBox(gbPic), "cbStretch");
    lbFile = named<QLabel>(new TPathLabel(gbPic), "lbFile");
    sbPic = toolButton(gbPic, "sbPic", QStyle::SP_DialogOpenButton);
    sbClear = toolButton(gbPic, "sbClear", QStyle::SP_DialogDiscardButton);
    pic->addWidget(cbPic, 0, 0, 1, 3);
    pic->addWidget(cbStretch, 1, 0, 1, 3);
    pic->addWidget(lbFile, 2, 0);
    pic->addWidget(sbPic, 2, 1);
    pic->addWidget(sbClear, 2, 2);
    pic->setColumnStretch(0, 1);
    connect(cbPic, &QCheckBox::clicked, this, &TOptDlg::cbPicClick);
    connect(cbStretch, &QCheckBox::clicked, this, &TOptDlg::cbStretchClick);
    connect(sbPic, &QToolButton::clicked, this, &TOptDlg::sbPicClick);
    connect(sbClear, &QToolButton::clicked, this, &TOptDlg::sbClearClick);

    gbFont = named(new QGroupBox(page), "gbFont");
    auto *font = new QVBoxLayout(gbFont);
    cbFont = named(new QComboBox(gbFont), "cbFont");
    cbFont->addItems(QFontDatabase::families());
    cbFont->setMaxVisibleItems(16);
    font->addWidget(cbFont);
    connect(cbFont, &QComboBox::activated, this, &TOptDlg::cbFontChange);

    gbTrans = named(new QGroupBox(page), "gbTrans");
    auto *trans = new QVBoxLayout(gbTrans);
    cbTrans = named(new QCheckBox(gbTrans), "cbTrans");
    tbTrans = named(new QSlider(Qt::Horizontal, gbTrans), "tbTrans");
    tbTrans->setRange(0, 100);
    tbTrans->setTickInterval(10);
    tbTrans->setTickPosition(QSlider::TicksAbove);
    tbTrans->setPageStep(10);
    trans->addWidget(cbTrans);
    trans->addWidget(tbTrans);
    connect(cbTrans, &QCheckBox::clicked, this, &TOptDlg::cbTransClick);
    connect(tbTrans, &QSlider::valueChanged, this, &TOptDlg::tbTransChange);

    auto *layout = new QVBoxLayout(page);
    for (QWidget *group : {gbColor, gbPic, gbFont, gbTrans})
        layout->addWidget(group);
    layout->addStretch();
    return page;
}

QWidget *TOptDlg::CreateTapiPage()
{
    auto *page = named(new QWidget, "tsTAPI");
    cbUseTapi = named(new QCheckBox(page), "cbUseTapi");
    lbTAPI = named(new QListWidget(page), "lbTAPI");
    lbTAPI->setSelectionMode(QAbstractItemView::SingleSelection);
    lbTAPI->setFixedHeight(90);
    btnProbe = named(new QPushButton(page), "btnProbe");
    btnProbe->setAutoDefault(false);
    lbProbeNotes = named(new QLabel(page), "lbProbeNotes");
    lbProbeNotes->setTextFormat(Qt::PlainText);
    lbProbeNotes->setWordWrap(true);
    cbPreNumber = named(new QCheckBox(page), "cbPreNumber");
    edPreNumber = named(new QLineEdit(page), "edPreNumber");
    edPreNumber->setMaxLength(20);
    lbModemPorts = named(new QLabel(page), "lbModemPorts");
    edModemPorts = named(new QLineEdit(page), "edModemPorts");
    edModemPorts->setPlaceholderText(QStringLiteral("/dev/ttyACM0;/dev/ttyUSB0@57600"));
    lbModemPorts->setBuddy(edModemPorts);

    gbModifyNumber = named(new QGroupBox(page), "gbModifyNumber");
    auto *modify = new QHBoxLayout(gbModifyNumber);
    edDLL = readOnlyEdit(gbModifyNumber, "edDLL");
    sbDLL = toolButton(gbModifyNumber, "sbDLL", QStyle::SP_DialogOpenButton);
    btnDLLClear = toolButton(gbModifyNumber, "btnDLLClear", QStyle::SP_DialogDiscardButton);
    modify->addWidget(edDLL, 1);
    modify->addWidget(sbDLL);
    modify->addWidget(btnDLLClear);

    connect(cbUseTapi, &QCheckBox::clicked, this, &TOptDlg::cbUseTapiClick);
    connect(cbUseTapi, &QCheckBox::toggled, this, &TOptDlg::UpdateTelephonyOptions);
    connect(lbTAPI, &QListWidget::currentTextChanged, this, &TOptDlg::lbTAPIChange);
    connect(btnProbe, &QPushButton::clicked, this, &TOptDlg::btnProbeClick);
    connect(cbPreNumber, &QCheckBox::toggled, this, &TOptDlg::UpdateTelephonyOptions);
    connect(sbDLL, &QToolButton::clicked, this, &TOptDlg::sbDLLClick);
    connect(btnDLLClear, &QToolButton::clicked, this, &TOptDlg::btnDLLClearClick);

    auto *layout = new QGridLayout(page);
    layout->addWidget(cbUseTapi, 0, 0, 1, 2);
    layout->addWidget(lbTAPI, 1, 0, 1, 2);
    layout->addWidget(lbProbeNotes, 2, 0);
    layout->addWidget(btnProbe, 2, 1, Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(cbPreNumber, 3, 0);
    layout->addWidget(edPreNumber, 3, 1);
    layout->addWidget(lbModemPorts, 4, 0);
    layout->addWidget(edModemPorts, 4, 1);
    layout->addWidget(gbModifyNumber, 5, 0, 1, 2);
    layout->setRowStretch(6, 1);
    return page;
}

QWidget *TOptDlg::CreateOutlookPage()
{
    auto *page = named(new QWidget, "tsOutlook");
    cbSearchOutlook = named(new QCheckBox(page), "cbSearchOutlook");
    lbCC = named(new QLabel(page), "lbCC");
    cbCountryCode = named(new QComboBox(page), "cbCountryCode");
    cbCountryCode->setEditable(true);
    cbCountryCode->setInsertPolicy(QComboBox::NoInsert);
    cbCountryCode->setMaxVisibleItems(16);
    lbCC->setBuddy(cbCountryCode);
    lvOutlookSearch = named(new QListWidget(page), "lvOutlookSearch");
    for (const QString &field : SettingsStore::outlookNumberKeys()) {
        auto *item = new QListWidgetItem(field, lvOutlookSearch);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Unchecked);
    }

    gbAddressBook = named(new QGroupBox(page), "gbAddressBook");
    auto *book = new QGridLayout(gbAddressBook);
    lbAddressBook = named(new QLabel(gbAddressBook), "lbAddressBook");
    edAddressBook = named(new QLineEdit(gbAddressBook), "edAddressBook");
    lbAddressBook->setBuddy(edAddressBook);
    lbVCard = named(new QLabel(gbAddressBook), "lbVCard");
    edVCard = named(new QLineEdit(gbAddressBook), "edVCard");
    lbVCard->setBuddy(edVCard);
    sbVCard = toolButton(gbAddressBook, "sbVCard", QStyle::SP_DialogOpenButton);
    book->addWidget(lbAddressBook, 0, 0);
    book->addWidget(edAddressBook, 0, 1, 1, 2);
    book->addWidget(lbVCard, 1, 0);
    book->addWidget(edVCard, 1, 1);
    book->addWidget(sbVCard, 1, 2);

    connect(cbSearchOutlook, &QCheckBox::toggled, this, &TOptDlg::UpdateContactsOptions);
    connect(sbVCard, &QToolButton::clicked, this, &TOptDlg::sbVCardClick);

    auto *layout = new QGridLayout(page);
    layout->addWidget(cbSearchOutlook, 0, 0, 1, 2);
    layout->addWidget(lbCC, 1, 0);
    layout->addWidget(cbCountryCode, 1, 1);
    layout->addWidget(lvOutlookSearch, 2, 0, 1, 2);
    layout->addWidget(gbAddressBook, 3, 0, 1, 2);
    return page;
}

void TOptDlg::SetCountryCodeChoices(const QStringList &codes)
{
    const QString current = cbCountryCode->currentText();
    QStringList sorted = codes;
    sorted.sort();
    cbCountryCode->clear();
    cbCountryCode->addItems(sorted);
    cbCountryCode->setEditText(current);
}

// ---- Texts ------------------------------------------------------------------------------

QString TOptDlg::Text(const char *name) const
{
    return UiText(UiForm::Options, QString::fromLatin1(name), FLanguage);
}

QString TOptDlg::Message(const char *name) const
{
    return UiText(UiForm::Messages, QString::fromLatin1(name), FLanguage);
}

void TOptDlg::ApplyLanguage(Language language)
{
    FLanguage = language;
    setWindowTitle(Text("Caption"));
    for (const QString &name : UiTextNames(UiForm::Options)) {
        const QString text = UiText(UiForm::Options, name, language);
        if (name.endsWith(QLatin1String(".Hint"))) {
            if (auto *widget = findChild<QWidget *>(name.chopped(5))) {
                widget->setToolTip(text);
                widget->setAccessibleName(text);
            }
            continue;
        }
        // A note beside a caption (a ".Hint" is the name of a button without one).
        if (name.endsWith(QLatin1String(".ToolTip"))) {
            if (auto *widget = findChild<QWidget *>(name.chopped(8))) {
                widget->setToolTip(text);
                widget->setAccessibleDescription(text);
            }
            continue;
        }
        auto *widget = findChild<QWidget *>(name);
        if (!widget) continue;
        if (auto *group = qobject_cast<QGroupBox *>(widget))
            group->setTitle(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            button->setText(text);
        else if (auto *label = qobject_cast<QLabel *>(widget))
            label->setText(text);
        else if (const int tab = PageControl1->indexOf(widget); tab >= 0)
            PageControl1->setTabText(tab, text);
    }
    shBg->setAccessibleName(lbBGColor->text());
    shFontColor->setAccessibleName(lbFontColor->text());
    // The language buttons show the dialog's language even when the switch came from
    // elsewhere.
    LangButtons[language == Language::English ? 1 : 0]->setChecked(true);
}

void TOptDlg::LangGroupClick(int index)
{
    if (OnLanguage)
        OnLanguage(index);
    else
        ApplyLanguage(languageFromIndex(index));
}

// ---- Opening and closing ----------------------------------------------------------------

bool TOptDlg::Open()
{
    if (isVisible()) return false;
    FLanguageOnShow = FLanguage == Language::English ? 1 : 0;
    FTransparencyAvailable =
        TransparencyAvailable ? TransparencyAvailable() : platform::WindowOpacityAvailable();
    FillControls();
    LoadBox->setChecked(FAutostart.RunKeyIsSet(platform::Autostart::Scope::User));
    // The keyboard starts in the page, not on the tab bar.
    QWidget *page = PageControl1->currentWidget();
    for (QWidget *w = page->nextInFocusChain(); w != page; w = w->nextInFocusChain()) {
        if (!page->isAncestorOf(w)) break;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled()) {
            w->setFocus();
            break;
        }
    }

    if (exec() == QDialog::Accepted) {
        // The popup lays itself out again for the settings it now has.
        if (OnPopupAppearance) OnPopupAppearance();
        if (FSettings.settings.searchOutlook && OnImportContacts) OnImportContacts();
        return true;
    }
    // Every change made in the dialog is undone by reading the file again.
    if (OnReadSettings)
        OnReadSettings();
    else
        FSettings.readAll();
    FillControls();
    return false;
}

void TOptDlg::FillControls()
{
    FFilling = true;
    const GeneralSettings &s = FSettings.settings;

    StayOnTopBox->setChecked(s.stayOnTop);
    NumberGroupBox->setChecked(s.allowGroup);
    cbCloseBtn->setChecked(s.showClose);
    cbGetFocus->setChecked(s.keepFocus);
    cbScreensaver->setChecked(s.screensaver);
    NagBox->setChecked(s.showNag);
    cbClearCall->setChecked(s.clearCalls);
    udDays->setValue(s.clearCallDays);
    cbBuiltIn->setChecked(s.internalReverseSearch);
    edLookupURL->setText(s.reverseLookupUrl);
    edLookupDll->setText(s.externalNumberLookupDll);
    edRouterHost->setText(s.routerMonitorHost);

    cbPopup->setChecked(s.popup);
    udDuration->setValue(s.duration);
    cbCloseOnDisconnect->setChecked(s.closeDisCon);
    cbCloseOnConnect->setChecked(s.closeConnect);
    cbCloseOnReject->setChecked(s.closeReject);
    cbCloseOnBusy->setChecked(s.closeBusy);
    cbKeepUnknownOpen->setChecked(s.keepUnknown);
    cbMultipleCalls->setChecked(s.showMultipleCalls);
    cbBalloon->setChecked(s.balloon);
    cbShowReject->setChecked(s.showReject);
    ScrollLEDBox->setChecked(s.scrollLed);
    cbStoreNoNum->setChecked(s.storeNotSubmitted);
    udCutNumber->setValue(s.cutZeroes);

    LoadIconSets();
    const int selected = FSettings.selectedIcon().value_or(-1);
    EnabledIconsListView->setCurrentRow(
        selected >= 0 && selected < platform::TrayIconSlots ? selected : -1);

    SetColorSquare(shBg, s.bgColor);
    SetColorSquare(shFontColor, s.fColor);
    cbPic->setChecked(FSettings.picture.usePic);
    cbStretch->setChecked(FSettings.picture.stretch);
    ShowPictureFile();
    // A font that is not installed stays the setting; the box shows its name greyed.
    cbFont->setCurrentIndex(cbFont->findText(s.font, Qt::MatchFixedString));
    cbFont->setPlaceholderText(s.font);
    cbTrans->setChecked(s.transparency > 0);
    tbTrans->setValue(s.transparency);

    cbUseTapi->setChecked(s.useTapi);
    lbTAPI->clear();
    lbProbeNotes->clear();
    if (s.useTapi) {
        // A list that is empty for now (a modem unplugged) leaves telephony switched on.
        FillDevices(false);
        QStringList devices;
        for (int i = 0; i < lbTAPI->count(); ++i)
            devices.append(lbTAPI->item(i)->text());
        const int device = FSettings.tapiDeviceIndex(devices);
        const QSignalBlocker quiet(lbTAPI);
        if (device >= 0) lbTAPI->setCurrentRow(device);
    }
    cbPreNumber->setChecked(s.doPrependNum);
    edPreNumber->setText(s.prependNum);
    edModemPorts->setText(s.modemPorts);
    edDLL->setText(LoadedNumberPlugin ? LoadedNumberPlugin() : s.externalNumberManipulationDll);

    cbSearchOutlook->setChecked(s.searchOutlook);
    cbCountryCode->setEditText(s.countryCode);
    for (int i = 0; i < lvOutlookSearch->count(); ++i)
        lvOutlookSearch->item(i)->setCheckState(FSettings.outlookNumbers[i] ? Qt::Checked
                                                                            : Qt::Unchecked);
    edAddressBook->setText(s.contactsSource);
    edVCard->setText(s.contactsVCard);

    FFilling = false;
    UpdatePopupOptions();
    UpdatePictureOptions();
    UpdateTransparencyOptions();
    UpdateLookupOptions();
    UpdateTelephonyOptions();
    UpdateContactsOptions();
}

void TOptDlg::TakeControls()
{
    GeneralSettings &s = FSettings.settings;
    s.language = LangButtons[1]->isChecked() ? 1 : 0;
    s.stayOnTop = StayOnTopBox->isChecked();
    s.allowGroup = NumberGroupBox->isChecked();
    s.showClose = cbCloseBtn->isChecked();
    s.keepFocus = cbGetFocus->isChecked();
    s.screensaver = cbScreensaver->isChecked();
    s.showNag = NagBox->isChecked();
    s.clearCalls = cbClearCall->isChecked();
    s.clearCallDays = udDays->value();
    s.internalReverseSearch = cbBuiltIn->isChecked();
    s.reverseLookupUrl = edLookupURL->text().trimmed();
    s.externalNumberLookupDll = edLookupDll->text();
    s.routerMonitorHost = edRouterHost->text().trimmed();

    s.popup = cbPopup->isChecked();
    s.duration = udDuration->value();
    s.closeDisCon = cbCloseOnDisconnect->isChecked();
    s.closeConnect = cbCloseOnConnect->isChecked();
    s.closeReject = cbCloseOnReject->isChecked();
    s.closeBusy = cbCloseOnBusy->isChecked();
    s.keepUnknown = cbKeepUnknownOpen->isChecked();
    s.showMultipleCalls = cbMultipleCalls->isChecked();
    s.balloon = cbBalloon->isChecked();
    s.showReject = cbShowReject->isChecked();
    s.scrollLed = ScrollLEDBox->isChecked();
    s.storeNotSubmitted = cbStoreNoNum->isChecked();
    s.cutZeroes = udCutNumber->value();

    s.useTapi = cbUseTapi->isChecked();
    // Nothing chosen keeps the device of the file.
    if (QListWidgetItem *device = lbTAPI->currentItem()) s.tapiDevice = device->text();
    s.doPrependNum = cbPreNumber->isChecked();
    s.prependNum = edPreNumber->text();
    s.modemPorts = edModemPorts->text().trimmed();
    s.externalNumberManipulationDll = edDLL->text();

    s.searchOutlook = cbSearchOutlook->isChecked();
    s.countryCode = cbCountryCode->currentText().trimmed();
    for (int i = 0; i < lvOutlookSearch->count(); ++i)
        FSettings.outlookNumbers[i] = lvOutlookSearch->item(i)->checkState() == Qt::Checked;
    s.contactsSource = edAddressBook->text().trimmed();
    s.contactsVCard = edVCard->text().trimmed();
}

bool TOptDlg::LookupUrlUsable(const QString &address)
{
    if (address.isEmpty()) return true;
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

bool TOptDlg::LookupUrlAccepted()
{
    const QString text = edLookupURL->text().trimmed();
    // An address the file holds is kept as it is; only a typed one is refused.
    if (text == FSettings.settings.reverseLookupUrl || LookupUrlUsable(text)) return true;
    // The focus first: it comes back to the field when the message closes.
    PageControl1->setCurrentWidget(tsGeneral);
    edLookupURL->setFocus();
    FPrompts.inform(Message("LookupUrlInvalid") + text);
    return false;
}

bool TOptDlg::RouterHostAccepted()
{
    const QString text = edRouterHost->text().trimmed();
    const char *message = nullptr;
    switch (ParseRouterAddress(text).problem) {
    case RouterAddressProblem::None:
    case RouterAddressProblem::Empty:
        return true;
    case RouterAddressProblem::BadHost:
        message = "RouterHostInvalid";
        break;
    case RouterAddressProblem::BadIpv6:
        message = "RouterIpv6Invalid";
        break;
    case RouterAddressProblem::BadPort:
        message = "RouterPortInvalid";
        break;
    }
    // The focus first: it comes back to the field when the message closes.
    PageControl1->setCurrentWidget(tsGeneral);
    edRouterHost->setFocus();
    FPrompts.inform(Message(message) + text);
    return false;
}

void TOptDlg::OKBtnClick()
{
    // Before anything is taken: a refused OK leaves the store as the file has it.
    if (!LookupUrlAccepted() || !RouterHostAccepted()) return;
    TakeControls();
    QString error;
    const bool written = OnWriteSettings ? OnWriteSettings(&error) : FSettings.writeAll(&error);
    if (!written) {
        FPrompts.inform(Message("SettingsNotWritten") + error);
        return;
    }
    if (OnStayOnTop) OnStayOnTop();
    if (FSettings.settings.language != FLanguageOnShow) {
        // The stored words were converted to the new language.
        FLists.RequestSave(ListKind::Calls);
        FLists.RequestSave(ListKind::Nicks);
        FLists.RequestSave(ListKind::Msn);
    }
    using Scope = platform::Autostart::Scope;
    if (LoadBox->isChecked() != FAutostart.RunKeyIsSet(Scope::User) &&
        !FAutostart.SetRunKey(Scope::User, LoadBox->isChecked(), &error))
        FPrompts.inform(Message("AutostartWriteError") + error);
    accept();
}

// ---- Enabling rules ---------------------------------------------------------------------

void TOptDlg::UpdatePopupOptions()
{
    const bool popup = cbPopup->isChecked();
    const int duration = udDuration->value();
    DauerLabel->setEnabled(popup);
    udDuration->setEnabled(popup);
    // Closing on an event only matters for a popup that stays until something closes it.
    for (QCheckBox *box : {cbCloseOnDisconnect, cbCloseOnConnect, cbCloseOnReject, cbCloseOnBusy})
        box->setEnabled(popup && duration == 0);
    cbKeepUnknownOpen->setEnabled(popup && duration > 0);
}

void TOptDlg::UpdatePictureOptions()
{
    const bool on = cbPic->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(cbStretch), static_cast<QWidget *>(sbPic),
                       static_cast<QWidget *>(sbClear)})
        w->setEnabled(on);
}

void TOptDlg::UpdateTransparencyOptions()
{
    cbTrans->setEnabled(FTransparencyAvailable);
    tbTrans->setEnabled(FTransparencyAvailable && cbTrans->isChecked());
}

void TOptDlg::UpdateLookupOptions()
{
    const bool builtIn = cbBuiltIn->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(edLookupDll), static_cast<QWidget *>(btnLookupLoad),
                       static_cast<QWidget *>(btnLookupDLLClear)})
        w->setEnabled(!builtIn);
    lbLookupURL->setEnabled(builtIn);
    edLookupURL->setEnabled(builtIn);
}

void TOptDlg::UpdateTelephonyOptions()
{
    edPreNumber->setEnabled(cbPreNumber->isChecked());
    btnProbe->setEnabled(cbUseTapi->isChecked());
}

void TOptDlg::UpdateContactsOptions()
{
    cbCountryCode->setEnabled(cbSearchOutlook->isChecked());
}

void TOptDlg::NumberOutOfRange(QSpinBox *box, qint64 typed)
{
    const QString text = Message("NumberRange").arg(box->minimum()).arg(box->maximum()).arg(typed);
    // Not from inside the field's own focus change.
    QTimer::singleShot(0, this, [this, text] { FPrompts.inform(text); });
}

// ---- Icons ------------------------------------------------------------------------------

QStringList TOptDlg::LoadIconSets()
{
    using platform::TrayIconState;
    QStringList unreadable;
    const auto read = [&unreadable](const QString &file) {
        const QIcon icon = readIcon(file);
        if (icon.isNull() && !file.isEmpty()) unreadable.append(file);
        return icon;
    };
    for (int slot = 0; slot < platform::TrayIconSlots; ++slot) {
        const QIcon active = read(FSettings.iconFile(slot));
        FActiveIcons[slot] =
            active.isNull() ? platform::TrayIcon(TrayIconState::Active, slot + 1) : active;
        QIcon inactive = read(FSettings.disabledIconFile(slot));
        if (inactive.isNull()) inactive = active;
        FInactiveIcons[slot] =
            inactive.isNull() ? platform::TrayIcon(TrayIconState::Deactivated, slot + 1) : inactive;
    }
    ShowIcons();
    unreadable.removeDuplicates();
    return unreadable;
}

void TOptDlg::ReportStartIconError()
{
    if (FStartIconErrors.isEmpty()) return;
    const QStringList files = std::exchange(FStartIconErrors, {});
    FPrompts.inform(Message("IconReadError") + u'\n' + files.join(u'\n'));
}

void TOptDlg::ShowIcons()
{
    for (int slot = 0; slot < platform::TrayIconSlots; ++slot)
        EnabledIconsListView->item(slot)->setIcon(FActiveIcons[slot]);
}

bool TOptDlg::LoadIconToImageList(bool active, const QString &file, int slot)
{
    const QIcon icon = readIcon(file);
    if (icon.isNull()) {
        FPrompts.inform(Message("IconReadError"));
        return false;
    }
    (active ? FActiveIcons : FInactiveIcons)[slot] = icon;
    ShowIcons();
    return true;
}

void TOptDlg::btnSelectClick()
{
    const int slot = EnabledIconsListView->currentRow();
    if (slot < 0) return;
    QString error;
    if (!FSettings.writeSelectedIcon(slot, &error)) FPrompts.inform(error);
    if (OnTrayIcons) OnTrayIcons();
}

void TOptDlg::btnLoadClick()
{
    const int slot = EnabledIconsListView->currentRow();
    if (slot < 0) {
        FPrompts.inform(Message("IconToReplace"));
        return;
    }
    QString file = FPrompts.chooseOpenFile(Message("IconChooserActive"), FSettings.iconInitialDir(),
                                           IconFilter());
    if (file.isEmpty() || !LoadIconToImageList(true, file, slot)) return;
    const QString directory = QFileInfo(file).absolutePath();
    QString error;
    if (!FSettings.writeIconFile(slot, file, &error) ||
        !FSettings.writeIconInitialDir(directory, &error))
        FPrompts.inform(error);
    if (OnTrayIcons) OnTrayIcons();

    file = FPrompts.chooseOpenFile(Message("IconChooserInactive"), directory, IconFilter());
    if (file.isEmpty() || !LoadIconToImageList(false, file, slot)) return;
    if (!FSettings.writeDisabledIconFile(slot, file, &error)) FPrompts.inform(error);
    if (OnTrayIcons) OnTrayIcons();
}

QString TOptDlg::IconFilter()
{
    QStringList patterns = readablePatterns();
    // Icon files first: the chooser's list reads best that way.
    if (patterns.removeAll(QStringLiteral("*.ico"))) patterns.prepend(QStringLiteral("*.ico"));
    return QStringLiteral("Icons (%1)").arg(patterns.join(u' '));
}

// ---- Colours, font, picture, transparency -----------------------------------------------

void TOptDlg::SetColorSquare(QAbstractButton *square, int value)
{
    static_cast<TColorSquare *>(square)->setColor(ColorFromSetting(value));
}

void TOptDlg::PopupAppearance()
{
    if (OnPopupAppearance) OnPopupAppearance();
    // The popup switches a picture off that it cannot load.
    cbPic->setChecked(FSettings.picture.usePic);
    UpdatePictureOptions();
    ShowPictureFile();
}

void TOptDlg::shBgClick()
{
    const std::optional<QColor> color =
        FPrompts.chooseColor(ColorFromSetting(FSettings.settings.bgColor));
    if (!color) return;
    FSettings.settings.bgColor = SettingFromColor(*color);
    SetColorSquare(shBg, FSettings.settings.bgColor);
    PopupAppearance();
}

void TOptDlg::shFontColorClick()
{
    const std::optional<QColor> color =
        FPrompts.chooseColor(ColorFromSetting(FSettings.settings.fColor));
    if (!color) return;
    FSettings.settings.fColor = SettingFromColor(*color);
    SetColorSquare(shFontColor, FSettings.settings.fColor);
    PopupAppearance();
}

void TOptDlg::cbFontChange()
{
    if (cbFont->currentIndex() < 0) return;
    FSettings.settings.font = cbFont->currentText();
    PopupAppearance();
}

void TOptDlg::cbPicClick()
{
    FSettings.picture.usePic = cbPic->isChecked();
    UpdatePictureOptions();
    PopupAppearance();
}

void TOptDlg::cbStretchClick()
{
    FSettings.picture.stretch = cbStretch->isChecked();
    PopupAppearance();
}

QString TOptDlg::PictureFilter() const
{
    // The chooser of the Windows version, with the patterns this system cannot read left out
    // and every picture format it can read added to the first entry.
    const QStringList readable = readablePatterns();
    QStringList parts = Text("PictureFilter").split(u'|');
    QStringList kept;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        patterns.removeIf([&readable](const QString &p) { return !readable.contains(p); });
        if (i == 0) {
            for (const QString &pattern : readable)
                if (!patterns.contains(pattern)) patterns.append(pattern);
        }
        if (patterns.isEmpty()) continue;
        kept << parts.at(i) << patterns.join(u';');
    }
    return QtFileFilter(kept.join(u'|'));
}

void TOptDlg::sbPicClick()
{
    const QString current = FSettings.picture.file;
    const QString directory =
        current.isEmpty() ? QDir::homePath() : QFileInfo(current).absolutePath();
    const QString file =
        FPrompts.chooseOpenFile(Message("PictureChooser"), directory, PictureFilter());
    if (file.isEmpty()) return;
    // A file that is no picture must not take the place of the one there is.
    QImageReader reader(file);
    if (reader.read().isNull()) {
        FPrompts.inform(Message("PictureUnreadable") + file);
        return;
    }
    if (OnLoadPicture ? !OnLoadPicture(file) : false) {
        FPrompts.inform(Message("PictureUnreadable") + file);
        return;
    }
    FSettings.picture.file = file;
    PopupAppearance();
}

void TOptDlg::ShowPictureFile()
{
    lbFile->setText(QDir::toNativeSeparators(FSettings.picture.file));
    lbFile->setToolTip(lbFile->text());
}

void TOptDlg::sbClearClick()
{
    FSettings.picture.file.clear();
    FSettings.picture.usePic = false;
    cbPic->setChecked(false);
    UpdatePictureOptions();
    PopupAppearance();
}

void TOptDlg::cbTransClick()
{
    FSettings.settings.transparency = cbTrans->isChecked() ? tbTrans->value() : 0;
    UpdateTransparencyOptions();
    if (OnPopupTransparency) OnPopupTransparency();
}

void TOptDlg::tbTransChange()
{
    if (FFilling || !cbTrans->isChecked() || !FTransparencyAvailable) return;
    FSettings.settings.transparency = tbTrans->value();
    if (OnPopupTransparency) OnPopupTransparency();
}

// ---- Telephony --------------------------------------------------------------------------

void TOptDlg::FillDevices(bool tellFailure)
{
    // Only the user's choice of a device has it asked.
    const QSignalBlocker quiet(lbTAPI);
    lbTAPI->clear();
    QStringList devices;
    if (OnListDevices && OnListDevices(devices)) {
        lbTAPI->addItems(devices);
        if (!devices.isEmpty()) lbTAPI->setCurrentRow(0);
        return;
    }
    if (!tellFailure) return;
    cbUseTapi->setChecked(false);
    FPrompts.inform(Message("TapiFailure"));
}

void TOptDlg::cbUseTapiClick()
{
    if (cbUseTapi->isChecked())
        FillDevices(true);
    else
        lbTAPI->clear();
}

void TOptDlg::lbTAPIChange(const QString &device)
{
    if (!device.isEmpty() && OnProbeDevices) OnProbeDevices(device);
}

void TOptDlg::btnProbeClick()
{
    if (OnProbeDevices) OnProbeDevices(QString());
}

void TOptDlg::DevicesChanged()
{
    if (!isVisible() || !cbUseTapi->isChecked() || !OnListDevices) return;
    // Also when none is left: the list shows what there is, and the setting stays.
    QStringList devices;
    OnListDevices(devices);
    const QListWidgetItem *chosen = lbTAPI->currentItem();
    const QString name = chosen ? chosen->text() : QString();
    const QSignalBlocker quiet(lbTAPI);
    lbTAPI->clear();
    lbTAPI->addItems(devices);
    lbTAPI->setCurrentRow(int(devices.indexOf(name)));
    lbProbeNotes->setText(ProbeNotes ? ProbeNotes() : QString());
}

// ---- Lookup sources ---------------------------------------------------------------------

QString TOptDlg::PluginFilter()
{
    return QStringLiteral("Plug-in (*.so *.so.*)");
}

void TOptDlg::sbDLLClick()
{
    const QString file = FPrompts.chooseOpenFile(
        Message("NumberPluginChooser"), QFileInfo(edDLL->text()).absolutePath(), PluginFilter());
    if (file.isEmpty()) return;
    if (OnLoadNumberPlugin && !OnLoadNumberPlugin(file)) return;
    edDLL->setText(file);
    FSettings.settings.externalNumberManipulationDll = file;
}

void TOptDlg::btnDLLClearClick()
{
    if (OnUnloadNumberPlugin) OnUnloadNumberPlugin();
    edDLL->clear();
    FSettings.settings.externalNumberManipulationDll.clear();
}

void TOptDlg::btnLookupLoadClick()
{
    const QString file =
        FPrompts.chooseOpenFile(Message("LookupPluginChooser"),
                                QFileInfo(edLookupDll->text()).absolutePath(), PluginFilter());
    if (file.isEmpty()) return;
    if (OnLoadLookupPlugin && !OnLoadLookupPlugin(file)) return;
    edLookupDll->setText(file);
    FSettings.settings.externalNumberLookupDll = file;
}

void TOptDlg::btnLookupDLLClearClick()
{
    if (OnUnloadLookupPlugin) OnUnloadLookupPlugin();
    edLookupDll->clear();
    FSettings.settings.externalNumberLookupDll.clear();
}

void TOptDlg::cbBuiltInClick()
{
    FSettings.settings.internalReverseSearch = cbBuiltIn->isChecked();
    UpdateLookupOptions();
    if (OnSelectLookupSource) OnSelectLookupSource(cbBuiltIn->isChecked());
}

// ---- Contacts ---------------------------------------------------------------------------

void TOptDlg::sbVCardClick()
{
    const QString current = edVCard->text().trimmed();
    const QString file = FPrompts.chooseOpenFile(
        Message("VCardChooser"),
        current.isEmpty() ? QDir::homePath() : QFileInfo(current).absolutePath(),
        QStringLiteral("vCard (*.vcf *.vcard)"));
    if (!file.isEmpty()) edVCard->setText(file);
}
