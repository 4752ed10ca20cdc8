#include "lists/lang.h"

#include "lists/lists.h"

#include <QDebug>

namespace {

struct TextEntry
{
    UiForm form;
    const char16_t *name;
    const char16_t *german;
    const char16_t *english;
};

// One row per control or message: German, then English. The misspellings are the program's
// own and stay ("exits", "Cantact", "Dont").
constexpr TextEntry Texts[] = {
    // Options dialog.
    {UiForm::Options, u"Caption", u"Optionen", u"Options"},
    {UiForm::Options, u"tsGeneral", u"Allgemein", u"General"},
    {UiForm::Options, u"LangGroup", u"Sprache", u"Language"},
    {UiForm::Options, u"LangGroup.0", u"&Deutsch", u"&German"},
    {UiForm::Options, u"LangGroup.1", u"&Englisch", u"&English"},
    {UiForm::Options, u"gbDiv", u"Diverses", u"Misc"},
    {UiForm::Options, u"StayOnTopBox", u"&Im Vordergrund", u"&Stay on top"},
    {UiForm::Options, u"NumberGroupBox", u"&Gruppierung von Nummern", u"&Allow number grouping"},
    {UiForm::Options, u"cbCloseBtn", u"&Zeige Schließen Knopf", u"Show &close button"},
    {UiForm::Options, u"cbGetFocus", u"Eingabe&fokus belassen", u"&Don't get focus"},
    {UiForm::Options, u"cbScreensaver", u"Bildschirmschoner bei Anruf beenden",
     u"End sc&reensaver on call"},
    {UiForm::Options, u"gbStart", u"Beim Start", u"Startup options"},
    {UiForm::Options, u"LoadBox", u"&Beim Systemstart laden", u"&Load at startup"},
    {UiForm::Options, u"NagBox", u"&Startbildschirm zeigen", u"Sho&w startup screen"},
    {UiForm::Options, u"cbClearCall", u"Älter als (Tage)", u"Older than (days)"},
    {UiForm::Options, u"gbLookup", u"Rückwärtssuche (intern oder externes Plug-in)",
     u"Reverse search (internal or external plug-in)"},
    {UiForm::Options, u"cbBuiltIn", u"Intern (Deutschland)", u"Internal (German)"},
    {UiForm::Options, u"lbLookupURL", u"Ser&ver-Adresse:", u"Ser&ver address:"},
    {UiForm::Options, u"lbLookupPlainHttp",
     u"Mit http:// werden die Nummern unbekannter Anrufer unverschlüsselt gesendet.",
     u"With http:// unknown callers' numbers are sent unencrypted."},
    {UiForm::Options, u"btnLookupLoad.Hint", u"Load", u"Load"},
    {UiForm::Options, u"btnLookupDLLClear.Hint", u"Clear", u"Clear"},
    {UiForm::Options, u"gbLine", u"Leitung", u"Line"},
    {UiForm::Options, u"lbRouterHost", u"&Router-Anrufmonitor (Host[:Port]):",
     u"Router &monitor (host[:port]):"},
    {UiForm::Options, u"lbLineHint",
     u"Leer: die ISDN-Leitung über CAPI. Nur eine CAPI-Leitung kann Anrufe abweisen.",
     u"Empty: the ISDN line through CAPI. Only a CAPI line can reject calls."},
    {UiForm::Options, u"tsOnCall", u"Anrufe", u"Calls"},
    {UiForm::Options, u"gbOnCall", u"Bei Anruf", u"On Call do"},
    {UiForm::Options, u"cbPopup", u"Zeige Fenster", u"Popup window"},
    {UiForm::Options, u"DauerLabel", u"Dauer", u"Duration"},
    {UiForm::Options, u"cbCloseOnDisconnect", u"Schließen bei Auflegen Anrufer",
     u"Close on caller disconnect"},
    {UiForm::Options, u"cbCloseOnConnect", u"Schließen bei Annahme", u"Close on accept call"},
    {UiForm::Options, u"cbCloseOnReject", u"Schließen bei Abweisen", u"Close on reject call"},
    {UiForm::Options, u"cbCloseOnBusy", u"Schließen bei besetzt", u"Close on busy"},
    {UiForm::Options, u"cbKeepUnknownOpen", u"Ohne Spitznamen nicht schließen",
     u"Dont close on unknown calls"},
    {UiForm::Options, u"cbMultipleCalls", u"Zeige Mehrfachanrufe", u"Show multiple calls"},
    {UiForm::Options, u"cbBalloon", u"Zeige Ballon-Hinweis", u"Show balloon hint"},
    {UiForm::Options, u"cbShowReject", u"Zeige Abweisen-Knopf", u"Show reject button"},
    {UiForm::Options, u"cbShowReject.ToolTip",
     u"Nur eine CAPI-Leitung kann Anrufe abweisen; der Router-Anrufmonitor meldet sie nur.",
     u"Only a CAPI line can reject calls; the router monitor only reports them."},
    {UiForm::Options, u"ScrollLEDBox", u"&Anrufe mit Rollen-LED signalisieren",
     u"&Indicate calls with scroll LED"},
    {UiForm::Options, u"cbStoreNoNum", u"\"&Nicht übermittelt\"-Anrufe speichern",
     u"Store \"&not submitted\" calls"},
    {UiForm::Options, u"lbCutNumber", u"Nullen bei eingehender Nummer abschneiden",
     u"Cut leading zeroes of incoming calls"},
    {UiForm::Options, u"tsIcon", u"Icon", u"Icon"},
    {UiForm::Options, u"IconLabel", u" Wählen oder Laden Sie ein Icon", u" Select or load an icon"},
    {UiForm::Options, u"btnSelect", u"Auswahl", u"Select"},
    {UiForm::Options, u"btnLoad", u"Laden", u"Load"},
    {UiForm::Options, u"tsColor", u"Farben", u"Colours"},
    {UiForm::Options, u"gbColor", u"Farben", u"Colours"},
    {UiForm::Options, u"lbBGColor", u"Hintergrund:", u"Background:"},
    {UiForm::Options, u"lbFontColor", u"Schrift:", u"Font:"},
    {UiForm::Options, u"cbPic", u"Benutze Hintergrundbild", u"Use background picture"},
    {UiForm::Options, u"cbStretch", u"&Dehnen", u"&Stretch"},
    {UiForm::Options, u"sbPic.Hint", u"Laden", u"Load"},
    {UiForm::Options, u"sbClear.Hint", u"Löschen", u"Clear"},
    {UiForm::Options, u"gbFont", u"Schrift", u"Font"},
    {UiForm::Options, u"cbTrans", u"Transparenz (mit Compositing)",
     u"Transparency (with compositing)"},
    {UiForm::Options, u"PictureFilter",
     u"Alle Dateien (*.gif;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.gif;*.jpg;*.jpeg;*.bmp;*.ico;"
     u"*.emf;*.wmf|CompuServe GIF Image (*.gif)|*.gif|JPEG Bilddatei (*.jpg)|*.jpg|JPEG "
     u"Bilddatei (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|Symbole (*.ico)|*.ico|Metadateien "
     u"(*.wmf)|*.wmf",
     u"All files (*.gif;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.gif;*.jpg;*.jpeg;*.bmp;*.ico;"
     u"*.emf;*.wmf|CompuServe GIF Image (*.gif)|*.gif|JPEG Image files (*.jpg)|*.jpg|JPEG Image "
     u"file (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|Symbols (*.ico)|*.ico|Metafiles (*.wmf)|*.wmf"},
    {UiForm::Options, u"tsTAPI", u"Telefonie", u"Telephony"},
    {UiForm::Options, u"cbUseTapi", u"Telefonie aktivieren", u"Enable telephony"},
    {UiForm::Options, u"cbPreNumber", u"Vorwahl (Amtskennziffer)", u"Prepend to number"},
    {UiForm::Options, u"btnProbe", u"Modems &suchen", u"&Find modems"},
    {UiForm::Options, u"lbModemPorts", u"&Modem-Anschlüsse (durch ; getrennt):",
     u"&Modem ports (separated by ;):"},
    {UiForm::Options, u"gbModifyNumber", u"Externes Plug-in zur Nummernmanipulation",
     u"External plug-in for number manipulation"},
    {UiForm::Options, u"sbDLL.Hint", u"Load", u"Load"},
    {UiForm::Options, u"btnDLLClear.Hint", u"Clear", u"Clear"},
    {UiForm::Options, u"tsOutlook", u"Kontakte", u"Contacts"},
    {UiForm::Options, u"cbSearchOutlook", u"Durchsuche Adressbuch", u"Search address book"},
    {UiForm::Options, u"lbCC", u"Ländervorwahl:", u"Country code:"},
    {UiForm::Options, u"gbAddressBook", u"Adressbuch", u"Address book"},
    {UiForm::Options, u"lbAddressBook", u"&Adressbuch (leer: alle):",
     u"&Address book (empty: all):"},
    {UiForm::Options, u"lbVCard", u"&vCard-Datei oder -Ordner:", u"&vCard file or folder:"},
    {UiForm::Options, u"sbVCard.Hint", u"Laden", u"Load"},
    {UiForm::Options, u"OKBtn", u"OK", u"OK"},

    // Main window: tray menu, reject button, popup label prefixes (shown only with ShowInfo).
    {UiForm::Main, u"Nicknames1", u"&Spitznamen", u"&Nicknames"},
    {UiForm::Main, u"Calllist1", u"&Anrufliste", u"&Call list"},
    {UiForm::Main, u"MSN1", u"&MSN", u"&MSN"},
    {UiForm::Main, u"Suchen1", u"S&uchen", u"&Search"},
    {UiForm::Main, u"Optionen1", u"&Optionen", u"&Options"},
    {UiForm::Main, u"ResetPos1", u"&Position zurücksetzen", u"&Reset position"},
    {UiForm::Main, u"Hilfe1", u"&Hilfe", u"&Help"},
    {UiForm::Main, u"Info", u"&Info", u"&Info"},
    {UiForm::Main, u"Deaktivieren1", u"&Deaktivieren", u"&Deactivate"},
    {UiForm::Main, u"Aktivieren1", u"&Aktivieren", u"&Activate"},
    {UiForm::Main, u"Beenden1", u"&Beenden", u"E&xit"},
    {UiForm::Main, u"sbReject", u"Abweisen", u"Reject"},
    {UiForm::Main, u"CallLabel", u" Anruf von:", u" Call from:"},
    {UiForm::Main, u"TargetLabel", u" Ziel: ", u" Target: "},
    {UiForm::Main, u"OrtLabel", u" Ort: ", u" Town: "},

    // Lists dialog.
    {UiForm::Lists, u"Caption", u"Listen", u"Lists"},
    {UiForm::Lists, u"Anrufe", u"Anrufe", u"Calls"},
    {UiForm::Lists, u"Nicknames", u"Spitznamen", u"Nicknames"},
    {UiForm::Lists, u"MSN", u"MSN", u"MSN"},
    {UiForm::Lists, u"OKBtn", u"Schließen", u"Close"},
    {UiForm::Lists, u"btnSearch", u"Suchen (F3)", u"Search (F3)"},
    {UiForm::Lists, u"Lschen1", u"&Löschen", u"&Delete"},
    {UiForm::Lists, u"ClearNoSubmit1", u"Anrufe mit \"Nicht übermittelt\" löschen",
     u"Delete \"not submitted\" calls"},
    {UiForm::Lists, u"Allelschen1", u"&Alle Löschen", u"Delete &All"},
    {UiForm::Lists, u"New1", u"&Neu", u"&New"},
    {UiForm::Lists, u"Edit1", u"&Bearbeiten", u"&Edit"},
    {UiForm::Lists, u"nickedit", u"In Spitznamenliste übernehmen", u"Add to nickname list"},
    {UiForm::Lists, u"Outlook", u"Export ins Adressbuch", u"Export to address book"},
    {UiForm::Lists, u"Privat1", u"Privat", u"Home"},
    {UiForm::Lists, u"Mobil1", u"Mobil", u"Mobile"},
    {UiForm::Lists, u"Arbeit1", u"Geschäftlich", u"Business"},
    {UiForm::Lists, u"Haupt1", u"Hauptnummer", u"Main"},
    {UiForm::Lists, u"Dial", u"Anrufen", u"Dial"},
    {UiForm::Lists, u"mnuReverseSearch", u"Rückwärtssuche", u"Reverse search"},
    // Column 0 of the calls keeps its design caption; column 0 of the MSNs has none.
    {UiForm::Lists, u"lvCalls.Col0", u"DateTime", u"DateTime"},
    {UiForm::Lists, u"lvCalls.Col1", u"Datum", u"Date"},
    {UiForm::Lists, u"lvCalls.Col2", u"Zeit", u"Time"},
    {UiForm::Lists, u"lvCalls.Col3", u"Rufnummer", u"Phone number"},
    {UiForm::Lists, u"lvCalls.Col4", u"Spitzname", u"Nickname"},
    {UiForm::Lists, u"lvCalls.Col5", u"Stadt", u"Town"},
    {UiForm::Lists, u"lvCalls.Col6", u"Ziel", u"Target"},
    {UiForm::Lists, u"lvCalls.Col7", u"Status", u"State"},
    {UiForm::Lists, u"lvNicks.Col0", u"Spitzname", u"Nickname"},
    {UiForm::Lists, u"lvNicks.Col1", u"Rufnummer", u"Phone number"},
    {UiForm::Lists, u"lvNicks.Col2", u"Sounddatei", u"Soundfile"},
    {UiForm::Lists, u"lvNicks.Col3", u"Aktion", u"Action"},
    {UiForm::Lists, u"lvMSN.Col0", u"", u""},
    {UiForm::Lists, u"lvMSN.Col1", u"MSN", u"MSN"},
    {UiForm::Lists, u"lvMSN.Col2", u"Spitzname", u"Nickname"},
    {UiForm::Lists, u"lvMSN.Col3", u"Sounddatei", u"Soundfile"},
    {UiForm::Lists, u"lvMSN.Col4", u"Aktion", u"Action"},

    // Nickname editor. Its title and number label are set again each time it opens.
    {UiForm::Nick, u"Caption", u"Spitzname", u"Nickname"},
    {UiForm::Nick, u"lbNick", u"Spitzname", u"Nickname"},
    {UiForm::Nick, u"lbNumber", u"Rufnummer", u"Phone number"},
    {UiForm::Nick, u"lbSound", u"Sounddatei", u"Soundfile"},
    {UiForm::Nick, u"OKBtn", u"OK", u"OK"},
    {UiForm::Nick, u"CancelBtn", u"Abbrechen", u"Cancel"},
    {UiForm::Nick, u"cbLog", u"Anruf speichern", u"Write To Log"},
    {UiForm::Nick, u"cbPopup", u"Anruf anzeigen", u"Popup Window"},
    {UiForm::Nick, u"cbReject", u"Anruf abweisen", u"Reject Call"},
    {UiForm::Nick, u"cbRejectNotSub", u"Anruf \"nicht übermittelt\" abweisen",
     u"Reject \"not submitted\""},
    {UiForm::Nick, u"SoundFilter", u"Wave|*.wav", u"Wave|*.wav"},

    // Search dialog.
    {UiForm::Search, u"Caption", u"Suchen", u"Search"},
    {UiForm::Search, u"lbListe", u"Liste", u"List"},
    {UiForm::Search, u"lbSpalte", u"Spalte", u"Column"},
    {UiForm::Search, u"lbContent", u"enthält", u"contents"},
    {UiForm::Search, u"btnSearch", u"Suchen", u"Search"},
    {UiForm::Search, u"btnClear", u"Löschen", u"Clear"},

    // TAPI window, and the call states its label shows, by the states' constant names.
    {UiForm::Tapi, u"Caption", u"Anruf", u"Calling"},
    {UiForm::Tapi, u"btnHangUp", u"Auflegen", u"Hang up"},
    {UiForm::Tapi, u"LINECALLSTATE_IDLE", u"Leerlauf", u"Idle"},
    {UiForm::Tapi, u"LINECALLSTATE_OFFERING", u"Warte auf Anruf", u"Offering"},
    {UiForm::Tapi, u"LINECALLSTATE_ACCEPTED", u"Angenommen", u"Accepted"},
    {UiForm::Tapi, u"LINECALLSTATE_DIALTONE", u"Freizeichen", u"Dialtone"},
    {UiForm::Tapi, u"LINECALLSTATE_DIALING", u"Wähle", u"Dialing"},
    {UiForm::Tapi, u"LINECALLSTATE_RINGBACK", u"Klingelt", u"Ringback"},
    {UiForm::Tapi, u"LINECALLSTATE_BUSY", u"Besetzt", u"Busy"},
    {UiForm::Tapi, u"LINECALLSTATE_SPECIALINFO", u"Spezialinfo", u"Special info"},
    {UiForm::Tapi, u"LINECALLSTATE_CONNECTED", u"Verbunden", u"Connected"},
    {UiForm::Tapi, u"LINECALLSTATE_PROCEEDING", u"Fahre fort", u"Proceeding"},
    {UiForm::Tapi, u"LINECALLSTATE_ONHOLD", u"Gehalten", u"Holding"},
    {UiForm::Tapi, u"LINECALLSTATE_CONFERENCED", u"Konferenz", u"Conferenced"},
    {UiForm::Tapi, u"LINECALLSTATE_ONHOLDPENDCONF", u"Gehaltene Konferenz", u"Conference pending"},
    {UiForm::Tapi, u"LINECALLSTATE_ONHOLDPENDTRANSFER", u"Übertragung", u"Transfer pending"},
    {UiForm::Tapi, u"LINECALLSTATE_DISCONNECTED", u"Nicht verbunden", u"Disconnected"},
    {UiForm::Tapi, u"LINECALLSTATE_UNKNOWN", u"unbekannt", u"unknown"},
    // Why a line device cannot be used or a step of the dial failed.
    {UiForm::Tapi, u"NoLineDevice",
     u"kein Leitungsgerät: kein Modem-Anschluss ist angegeben oder gefunden, und der Desktop hat "
     u"kein Programm für tel:-Links",
     u"no line device: no modem port is named or found, and the desktop has no handler for tel: "
     u"links"},
    {UiForm::Tapi, u"LineCallOpen", u"es ist schon ein Anruf offen", u"a call is already open"},
    {UiForm::Tapi, u"ModemBadSpeed", u"nicht unterstützte Geschwindigkeit in ModemPorts: %1",
     u"unsupported speed in ModemPorts: %1"},
    {UiForm::Tapi, u"ModemRelativePath", u"kein absoluter Gerätepfad in ModemPorts: %1",
     u"not an absolute device path in ModemPorts: %1"},
    {UiForm::Tapi, u"ModemMissing", u"%1 gibt es nicht (ist das Modem angeschlossen und an?)",
     u"%1 does not exist (is the modem plugged in and on?)"},
    {UiForm::Tapi, u"ModemNoPermission",
     u"keine Berechtigung für %1: nehmen Sie den Benutzer in die Gruppe dialout auf und melden "
     u"Sie sich neu an",
     u"no permission to use %1: add the user to the group dialout and log in again"},
    {UiForm::Tapi, u"ModemBusy",
     u"%1 ist belegt: ein anderes Programm hält den Anschluss (zum Beispiel ModemManager)",
     u"%1 is busy: another program holds it (ModemManager, for example)"},
    {UiForm::Tapi, u"ModemInUse", u"%1 wird schon für einen Anruf benutzt",
     u"%1 is in use for another call"},
    {UiForm::Tapi, u"ModemSystemError", u"%1: %2", u"%1: %2"},
    {UiForm::Tapi, u"ModemNotSerial", u"%1 ist kein serieller Anschluss",
     u"%1 is not a serial port"},
    {UiForm::Tapi, u"ModemGone", u"%1 ist nicht mehr da (ausgesteckt oder ausgeschaltet?)",
     u"%1 has gone (unplugged or switched off?)"},
    {UiForm::Tapi, u"ModemSilent", u"%1 hat auf %2 nicht geantwortet", u"%1 did not answer %2"},
    {UiForm::Tapi, u"ModemAnsweredError", u"%1 hat auf %2 mit ERROR geantwortet",
     u"%1 answered %2 with ERROR"},
    {UiForm::Tapi, u"ModemCallUnderWay", u"auf %1 läuft schon ein Anruf",
     u"a call is under way on %1"},
    {UiForm::Tapi, u"ModemCannotDial", u"ein Modem kann \"%1\" nicht wählen",
     u"a modem cannot dial \"%1\""},
    {UiForm::Tapi, u"TelHandlerFailed",
     u"das Programm für tel:-Links konnte nicht gestartet werden: %1",
     u"the tel: handler could not be started: %1"},

    // About window: one caption for both languages.
    {UiForm::About, u"Caption", u"Info", u"Info"},
    {UiForm::About, u"lbPlatformNote",
     u"Corvane läuft hier unter Wayland: Wo das Anruffenster erscheint und ob es über anderen "
     u"Fenstern bleibt, entscheidet der Desktop; seine gespeicherte Position und \"Im "
     u"Vordergrund\" wirken daher nicht. Mit einem X-Server (Xwayland) und ohne "
     u"QT_QPA_PLATFORM läuft Corvane unter X11, wo beides wirkt.",
     u"Corvane runs on Wayland here: the desktop decides where the popup window appears and "
     u"whether it stays above other windows, so its saved place and \"Stay on top\" do not "
     u"work. With an X server (Xwayland) and without QT_QPA_PLATFORM, Corvane runs on X11, "
     u"where both work."},

    // Messages.
    {UiForm::Messages, u"DeleteLines", u"Zeile(n) löschen?", u"Delete line(s)?"},
    {UiForm::Messages, u"DeleteAll", u"Alles löschen?", u"Delete all lines?"},
    {UiForm::Messages, u"NicksLoad", u"Spitznamendatei nicht gefunden oder ungültig",
     u"Nickname file not found or invalid"},
    {UiForm::Messages, u"CallsGone", u"Anrufdatei nicht gefunden",
     u"Incoming calls file not found."},
    {UiForm::Messages, u"CallsInvalid",
     u"Die Anrufdatei ist ungültig. Klicken Sie Ignorieren um eine Sicherung anzulegen und mit "
     u"einer leeren Anrufdatei fortzufahren",
     u"Incoming calls file is invalid. Click Ignore to create a backup of it and continue with "
     u"empty call list"},
    {UiForm::Messages, u"ListIsLink",
     u"%1 ist ein symbolischer Link. Corvane liest seine Listen nicht über Links. Klicken Sie "
     u"Ignorieren, um mit einer leeren Liste fortzufahren: das nächste Speichern ersetzt den "
     u"Link durch eine eigene Datei, die Datei, auf die er zeigt, bleibt unverändert",
     u"%1 is a symbolic link. Corvane does not read its lists through links. Click Ignore to "
     u"continue with an empty list: the next save replaces the link with a file of its own, "
     u"and the file it points to stays as it is"},
    {UiForm::Messages, u"DataDirForeignOwner",
     u"Das Datenverzeichnis %1 gehört einem anderen Benutzer: er kann die Listen und "
     u"Einstellungen von Corvane ersetzen. Verwenden Sie ein eigenes Verzeichnis (CORVANE_HOME)",
     u"The data directory %1 belongs to another user: they can replace Corvane's lists and "
     u"settings. Use a directory of your own (CORVANE_HOME)"},
    {UiForm::Messages, u"DataDirWritableByOthers",
     u"Andere Benutzer dürfen in das Datenverzeichnis %1 schreiben: sie können die Listen und "
     u"Einstellungen von Corvane ersetzen oder Dateien daneben anlegen. Nehmen Sie ihnen das "
     u"Schreibrecht (chmod go-w) oder verwenden Sie ein eigenes Verzeichnis (CORVANE_HOME)",
     u"Other users may write to the data directory %1: they can replace Corvane's lists and "
     u"settings or put files beside them. Take their write permission away (chmod go-w) or use "
     u"a directory of your own (CORVANE_HOME)"},
    {UiForm::Messages, u"MsnLoad", u"MSN-Datei nicht gefunden oder ungültig",
     u"MSN file not found or invalid"},
    {UiForm::Messages, u"BackupFailed",
     u"Fehler beim Anlegen einer Sicherheitskopie (CALLS.BAK, NICKS.BAK oder MSN.BAK). "
     u"Überprüfen Sie den vorhandenen Speicherplatz",
     u"Error creating backup of file (CALLS.BAK, NICKS.BAK or MSN.BAK). Check available disk "
     u"space."},
    {UiForm::Messages, u"RestoreQuestion",
     u"Soll versucht werden, die Sicherheitskopie zu restaurieren?",
     u"Should it be tried to restore the old file?"},
    {UiForm::Messages, u"SaveCalls", u"Fehler beim Speichern der Anrufdatei",
     u"Error saving file with incoming calls"},
    {UiForm::Messages, u"SaveNicks", u"Fehler beim Speichern der Spitznamendatei",
     u"Error saving nickname file"},
    {UiForm::Messages, u"SaveMsn", u"Fehler beim Speichern der MSN-Datei",
     u"Error saving MSN file"},
    {UiForm::Messages, u"DatedCopyFailed", u"Die beschädigte Datei konnte nicht gesichert werden",
     u"The damaged file could not be kept as a copy"},
    {UiForm::Messages, u"BadPrefixEntry", u"Ungültiger Spitznamen-Eintrag in Zeile ",
     u"Invalid Nickname-Entry found in Line "},
    {UiForm::Messages, u"OutlookContactExists",
     u"Für diese Telefonnummer existiert bereits ein Eintrag im Adressbuch. Zeige "
     u"entsprechenden Kontakt an",
     u"A contact for this telephone number already exists in the address book. Cantact will be "
     u"shown"},
    {UiForm::Messages, u"NotPhoneNumber", u"Die übergebene Zeichenkette ist keine Telefonnummer: ",
     u"The passed string is not a telephone number: "},
    {UiForm::Messages, u"EditorEmpty", u"Geben Sie Name und Nummer ein oder drücken Sie Abbrechen",
     u"Please insert number and nickname or press Cancel"},
    {UiForm::Messages, u"EditorSemicolon", u"Nummer und Name dürfen kein Semikolon enthalten",
     u"Number or nickname must not contain a semicolon"},
    {UiForm::Messages, u"IgnoredMsn",
     u"Sie können die Eigenschaften einer ignorierten MSN nicht ändern",
     u"You cannot change the properties of an ignored MSN"},
    {UiForm::Messages, u"ReverseSearchEmpty",
     u"Keine Informationen bei der Rückwärtssuche gefunden.",
     u"No information found in reverse search"},
    // The server's address and why it gave no answer.
    {UiForm::Messages, u"ReverseSearchFailed",
     u"Keine Antwort vom Server der Rückwärtssuche %1: %2",
     u"No answer from the reverse search server %1: %2"},
    {UiForm::Messages, u"LookupServerDown", u"Der Server der Rückwärtssuche antwortet nicht",
     u"The reverse search server does not answer"},
    {UiForm::Messages, u"ContactsUnreachable",
     u"Fehler beim Verbinden mit dem Adressbuch. Corvane versucht es beim nächsten Start und "
     u"nach OK in den Optionen erneut.",
     u"Error connecting to the address book. Corvane tries again at the next start and when the "
     u"options are confirmed with OK."},
    // The module's file and the loader's reason.
    {UiForm::Messages, u"ContactsModuleMissing",
     u"Das Adressbuch-Modul kann nicht geladen werden (%1); es gehört zum Paket "
     u"corvane-contacts. Corvane versucht es beim nächsten Start und nach OK in den Optionen "
     u"erneut.",
     u"The address-book module cannot be loaded (%1); it comes with the package "
     u"corvane-contacts. Corvane tries again at the next start and when the options are "
     u"confirmed with OK."},
    {UiForm::Messages, u"VCardUnreadable",
     u"Die vCard-Datei oder der vCard-Ordner %1 kann nicht gelesen werden. Corvane versucht es "
     u"beim nächsten Start und nach OK in den Optionen erneut.",
     u"The vCard file or folder %1 cannot be read. Corvane tries again at the next start and "
     u"when the options are confirmed with OK."},
    {UiForm::Messages, u"PluginShutOff",
     u"Das Plug-in %1 hat nicht innerhalb von %2 Sekunden geantwortet. Corvane ruft es bis zum "
     u"nächsten Start nicht mehr auf.",
     u"The plug-in %1 did not answer within %2 seconds. Corvane will not call it again until it "
     u"is restarted."},
    {UiForm::Messages, u"MsnDigitsOnly", u"Für eine MSN sind nur Zahlen gültig",
     u"Only numbers are valid for MSN"},
    {UiForm::Messages, u"IconToReplace", u"Wählen Sie ein Icon, das ersetzt werden soll",
     u"Select that icon that should be replaced"},
    {UiForm::Messages, u"IconChooserActive", u"Auswahl Icon für aktivierten Corvane",
     u"Selection of icon for activated Corvane"},
    {UiForm::Messages, u"IconChooserInactive", u"Auswahl Icon für deaktivierten Corvane",
     u"Selection of icon for deactivated Corvane"},
    {UiForm::Messages, u"IconReadError", u"Icon read error", u"Icon read error"},
    {UiForm::Messages, u"TapiFailure",
     u"Kein Gerät zum Wählen gefunden, Telefonie bleibt deaktiviert",
     u"No dialling device found: telephony stays disabled"},
    // Followed by the reason.
    {UiForm::Messages, u"AutostartWriteError",
     u"Fehler beim Schreiben der Option \"Beim Systemstart laden\" in den Autostart-Eintrag: ",
     u"Error writing \"Load at startup\" option to the autostart entry: "},
    {UiForm::Messages, u"NumberRange",
     u"Bitte geben Sie eine Zahl von %1 bis %2 ein; %3 ist zu groß.",
     u"Please enter a number from %1 to %2; %3 is too large."},
    {UiForm::Messages, u"PictureChooser", u"Hintergrundbild", u"Background picture"},
    {UiForm::Messages, u"PictureUnreadable",
     u"Diese Datei ist kein Bild, das angezeigt werden kann: ",
     u"This file is not a picture that can be shown: "},
    {UiForm::Messages, u"LookupPluginChooser", u"Plug-in für die Rückwärtssuche",
     u"Plug-in for the reverse search"},
    {UiForm::Messages, u"NumberPluginChooser", u"Plug-in zur Nummernmanipulation",
     u"Plug-in for number manipulation"},
    {UiForm::Messages, u"VCardChooser", u"vCard-Datei", u"vCard file"},
    {UiForm::Messages, u"LookupUrlInvalid",
     u"Die Server-Adresse muss mit http:// oder https:// und einem Rechnernamen beginnen: ",
     u"The server address must begin with http:// or https:// and a host name: "},
    // Followed by the address as typed.
    {UiForm::Messages, u"RouterHostInvalid",
     u"Der Router-Anrufmonitor braucht einen Rechnernamen (Buchstaben, Ziffern, - und .) oder "
     u"eine IP-Adresse, wahlweise gefolgt von :Port: ",
     u"The router monitor needs a host name (letters, digits, - and .) or an IP address, "
     u"optionally followed by :port: "},
    {UiForm::Messages, u"RouterIpv6Invalid",
     u"Das ist keine IPv6-Adresse; mit Port gehört die Adresse in eckige Klammern, etwa "
     u"[fd00::1]:1012: ",
     u"This is no IPv6 address; with a port, the address goes in brackets, as in "
     u"[fd00::1]:1012: "},
    {UiForm::Messages, u"RouterPortInvalid",
     u"Der Port des Router-Anrufmonitors muss eine Zahl von 1 bis 65535 sein: ",
     u"The router monitor's port must be a number from 1 to 65535: "},
    {UiForm::Messages, u"SettingsNotWritten", u"Die Einstellungen wurden nicht gespeichert. ",
     u"The settings were not saved. "},
    {UiForm::Messages, u"DuplicateNumber1", u"Eintrag für Nummer ", u"Entry for number "},
    {UiForm::Messages, u"DuplicateNumber2", u" schon vorhanden", u" already exits"},
    {UiForm::Messages, u"DuplicateNumber3", u"für Spitzname ", u"for nickname "},
    {UiForm::Messages, u"NicknameTooLong1", u"Benutzen Sie keine Spitznamen mit mehr als ",
     u"Please do not use nicknames longer than "},
    {UiForm::Messages, u"NicknameTooLong2", u" Buchstaben", u" characters"},
    {UiForm::Messages, u"NoTray", u"Corvane läuft ohne Symbol im Infobereich",
     u"Corvane runs without a tray icon"},
    {UiForm::Messages, u"NoTrayHelp",
     u"Dieser Desktop zeigt keinen Infobereich (Systemtray oder StatusNotifier). Starten Sie "
     u"Corvane erneut, um die Anrufliste zu öffnen. Die Aktionen seines Menüeintrags, oder "
     u"\"corvane /n\", \"/m\", \"/o\" und \"/q\" im Terminal, öffnen Spitznamen, MSN-Liste "
     u"und Optionen und beenden Corvane.",
     u"This desktop shows no tray (system tray or StatusNotifier). Start Corvane again to open "
     u"the call list. The actions of its menu entry, or \"corvane /n\", \"/m\", \"/o\" and "
     u"\"/q\" in a terminal, open the nicknames, the MSN list and the options and end Corvane."},
    {UiForm::Messages, u"LineDown", u"Die ISDN-Leitung ist nicht nutzbar",
     u"The ISDN line cannot be used"},
    {UiForm::Messages, u"LineBack", u"Die ISDN-Leitung ist wieder da", u"The ISDN line is back"},
    {UiForm::Messages, u"RouterDown", u"Keine Verbindung zum Anrufmonitor des Routers",
     u"No connection to the router's call monitor"},
    {UiForm::Messages, u"RouterBack", u"Der Anrufmonitor des Routers ist wieder verbunden",
     u"The router's call monitor is connected again"},
    {UiForm::Messages, u"RouterConnected", u"Anrufmonitor des Routers %1: verbunden",
     u"Router's call monitor %1: connected"},
    {UiForm::Messages, u"RouterConnecting", u"Anrufmonitor des Routers %1: Verbindung wird aufgebaut",
     u"Router's call monitor %1: connecting"},

    // Program-wide words.
    {UiForm::Words, u"BalloonTitle", u"Hinweis", u"Hint"},
    {UiForm::Words, u"NewCalls", u"neue Anrufe", u"new calls"},
    {UiForm::Words, u"NewCall", u"neuer Anruf", u"new call"},
    {UiForm::Words, u"Entries", u"Einträge", u"Entries"},
};

const TextEntry *find(UiForm form, QStringView name)
{
    for (const TextEntry &entry : Texts) {
        if (entry.form == form && name == QStringView(entry.name)) return &entry;
    }
    return nullptr;
}

} // namespace

QString UiText(UiForm form, QStringView name, Language language)
{
    const TextEntry *entry = find(form, name);
    if (!entry) {
        qWarning().noquote() << "No text for" << int(form) << name.toString();
        return QString();
    }
    return QString::fromUtf16(language == Language::English ? entry->english : entry->german);
}

bool HasUiText(UiForm form, QStringView name)
{
    return find(form, name) != nullptr;
}

QStringList UiTextNames(UiForm form)
{
    QStringList names;
    for (const TextEntry &entry : Texts) {
        if (entry.form == form) names.append(QString::fromUtf16(entry.name));
    }
    return names;
}

QString DuplicateNumberText(const QString &number, const QString &nickname, Language language)
{
    // Line feed before carriage return: the order the message always had.
    return UiText(UiForm::Messages, u"DuplicateNumber1", language) + number +
           UiText(UiForm::Messages, u"DuplicateNumber2", language) + QStringLiteral("\n\r") +
           UiText(UiForm::Messages, u"DuplicateNumber3", language) + nickname;
}

QString NicknameTooLongText(int max, Language language)
{
    return UiText(UiForm::Messages, u"NicknameTooLong1", language) + QString::number(max) +
           UiText(UiForm::Messages, u"NicknameTooLong2", language);
}

QString ActivationText(bool inactive, Language language)
{
    return UiText(UiForm::Main, inactive ? u"Aktivieren1" : u"Deaktivieren1", language);
}

QString QtFileFilter(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts.at(i).trimmed();
        // "All files (*.gif;*.jpg)": Qt reads the patterns from the final bracket.
        const qsizetype open = name.lastIndexOf(u'(');
        if (open > 0 && name.endsWith(u')')) name = name.left(open).trimmed();
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        for (QString &pattern : patterns)
            pattern = pattern.trimmed();
        result.append(name + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return result.join(QStringLiteral(";;"));
}

TLanguageSwitch::TLanguageSwitch(TLists *lists, QObject *parent) : QObject(parent), FLists(lists) {}

void TLanguageSwitch::Register(ILanguageSwitchable *window, UiForm form)
{
    if (!window || IsRegistered(window)) return;
    // Stable by form: windows of the same form keep the order they registered in.
    qsizetype at = FWindows.size();
    while (at > 0 && int(FWindows.at(at - 1).form) > int(form))
        --at;
    FWindows.insert(at, Entry{window, form});
    if (auto *object = dynamic_cast<QObject *>(window)) {
        connect(object, &QObject::destroyed, this, [this, window] { Unregister(window); });
    }
}

void TLanguageSwitch::Unregister(ILanguageSwitchable *window)
{
    FWindows.removeIf([window](const Entry &entry) { return entry.window == window; });
}

bool TLanguageSwitch::IsRegistered(ILanguageSwitchable *window) const
{
    for (const Entry &entry : FWindows) {
        if (entry.window == window) return true;
    }
    return false;
}

void TLanguageSwitch::SetLanguage(int index)
{
    FIndex = index == 1 ? 1 : 0;
    const Language language = languageFromIndex(FIndex);
    if (MonitoringInactive) SetActivationTexts(MonitoringInactive());
    // The lists first: their column captions are texts the windows copy (the search dialog's
    // column choices), and converting the stored words needs nothing from the windows.
    if (FLists) FLists->SetLanguage(language);
    // A window may open or close another while it applies its texts; work on a copy.
    const QList<Entry> windows = FWindows;
    for (const Entry &entry : windows) {
        if (IsRegistered(entry.window)) entry.window->ApplyLanguage(language);
    }
    emit languageChanged(language);
}

void TLanguageSwitch::SetActivationTexts(bool inactive)
{
    if (OnActivationTexts) OnActivationTexts(ActivationText(inactive, language()), inactive);
}
