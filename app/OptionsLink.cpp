#include "app/OptionsLink.h"

#include "app/main.h"
#include "lists/lang.h"
#include "lookup/LookupSources.h"
#include "settings/SettingsStore.h"
#include "settings/option.h"

void LinkOptionsDialog(TOptDlg &options, TMainForm &mainForm, TLanguageSwitch &language,
                       std::function<void()> readSettings)
{
    options.OnPopupAppearance = [&mainForm] { mainForm.ApplyAppearance(); };
    options.OnPopupTransparency = [&mainForm] { mainForm.ApplyTransparency(); };
    options.OnLoadPicture = [&mainForm](const QString &file) { return mainForm.LoadPic(file); };
    options.OnStayOnTop = [&mainForm] { mainForm.ApplyStayOnTop(); };
    options.OnTrayIcons = [&mainForm] { mainForm.ReloadTrayIcons(); };
    options.OnLanguage = [&language](int index) { language.SetLanguage(index); };
    options.OnWriteSettings = [&mainForm](QString *error) { return mainForm.WriteIni(error); };
    options.OnReadSettings = [&mainForm, readSettings = std::move(readSettings)] {
        // The program is closing: what it wrote stays.
        if (mainForm.Closed()) return;
        const QRect place = mainForm.geometry();
        readSettings();
        mainForm.setGeometry(place);
    };
    LookupSources &lookup = mainForm.Lookup();
    options.OnLoadLookupPlugin = [&lookup](const QString &file) {
        return lookup.SelectPlugin(file);
    };
    options.OnUnloadLookupPlugin = [&lookup] { lookup.SelectPlugin(QString()); };
    options.OnLoadNumberPlugin = [&lookup](const QString &file) {
        return lookup.LoadNumberPlugin(file);
    };
    options.OnUnloadNumberPlugin = [&lookup] { lookup.LoadNumberPlugin(QString()); };
    options.LoadedNumberPlugin = [&lookup] { return lookup.NumberPluginPath(); };
    // The dialog has put the choice (and the server's address) into the settings.
    options.OnSelectLookupSource = [&lookup, &mainForm](bool) {
        lookup.SelectSource(mainForm.Settings().settings);
    };
    language.Register(&options, UiForm::Options);
    mainForm.OnShowOptions = [&options] { options.Open(); };
    mainForm.UpdateMenuAvailability();
}
