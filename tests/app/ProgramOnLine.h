// The program's own objects on the simulated line (the simulator loaded in process), for the
// tests of what happens while calls ring: the windows and data on a fresh data directory, the
// popup ready for calls, the line listening.
#pragma once

#include "app/main.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"
#include "tests/capi/SimLine.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

// The program's windows and data on a fresh data directory, with the popup ready for calls.
struct Program
{
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("corvane.ini")};
    ScriptedPrompts prompts;
    std::unique_ptr<TLists> lists;
    AreaCodeTable towns;
    NoLed led;
    platform::Sound sound;
    std::unique_ptr<TMainForm> form;

    explicit Program(const std::function<void(GeneralSettings &)> &configure = {})
    {
        qputenv("CORVANE_HOME", dir.path().toLocal8Bit());
        settings.readAll();
        GeneralSettings &s = settings.settings;
        s.showReject = true;
        s.balloon = false;
        s.scrollLed = false;
        s.rejectTime = 30;
        if (configure) configure(s);
        lists = std::make_unique<TLists>(settings, prompts, dir.path());
        lists->SetLanguage(Language::English);
        if (!lists->LoadAtStartup()) qFatal("the lists cannot be loaded");
        form = std::make_unique<TMainForm>(settings, *lists, towns, prompts, led, sound);
        form->ApplyLanguage(Language::English);
        form->SetListsLoaded(true);
        form->SetDialogsReady(true);
        form->FFirstShow = false;
    }
    ~Program() { form->CallHandler().StopLines(); }

    // Starts listening on the line.
    bool StartLine(SimLine &line)
    {
        return form->StartMonitor() &&
               line.command(QStringLiteral("wait-listening --timeout 10"));
    }
};

// Rings a call from the number; true when the program answered it (ALERT_REQ) within 500 ms.
inline bool RingIsAlerted(SimLine &line, const QString &from = QStringLiteral("301234"))
{
    line.mark();
    QElapsedTimer clock;
    clock.start();
    if (!line.command(QStringLiteral("ring --from %1 --type 0x21 --to 85606 --end-after 30")
                          .arg(from)))
        return false;
    return line.waitForPut(QStringLiteral("0d 00"), 500) && clock.elapsed() < 500;
}

