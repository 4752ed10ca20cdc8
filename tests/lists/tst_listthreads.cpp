// Long call lists are read and written by two threads. This program runs those paths under
// ThreadSanitizer; it does without Qt Test, whose watchdog thread (uninstrumented Qt code)
// would give false reports.

#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int failures = 0;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SettingsStore settings(dir.path() + "/corvane.ini");
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir.path(), QLocale(QLocale::German, QLocale::Germany));

    QList<CallRow> rows;
    for (int i = 0; i < 40000; ++i) {
        CallRow row;
        row.dateTime = QString::number(45000 + i / 40.0, 'f', 3);
        row.number = QString::number(300000 + i);
        row.nickname = QStringLiteral("Nick %1").arg(i % 70);
        row.town = QString::fromUtf8("München");
        row.target = QStringLiteral("Office");
        row.status = QStringLiteral("answered");
        rows.append(row);
    }
    lists.calls().setRows(rows);
    check(lists.SaveList(ListKind::Calls), "save");
    check(QFile(lists.fileName(ListKind::Calls)).size() > (1 << 20), "file over a megabyte");

    settings.listViews.callsSort = 1;
    check(lists.LoadList(ListKind::Calls), "load");
    check(lists.calls().count() == rows.size(), "all rows read");
    check(lists.calls().row(0) == rows.last(), "newest first");
    check(prompts.fileErrors.isEmpty() && prompts.messages.isEmpty(), "no questions");

    settings.settings.clearCalls = true;
    settings.settings.clearCallDays = 10;
    lists.now = [] { return DayCount::toDateTime(45510.0); };
    check(lists.LoadList(ListKind::Calls), "load with purge");
    check(lists.calls().count() == rows.size() - 20001, "purged calls left the list");
    check(QFile::exists(dir.path() + "/Calls.old"), "archive written");

    std::fprintf(stderr, "%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
