#include "app/OptionsLink.h"

#include "app/main.h"
#include "lists/lang.h"
#include "settings/option.h"

void LinkOptionsDialog(TOptDlg &options, TMainForm &mainForm, TLanguageSwitch &language,
                       std::function<void()> readSettings)
{
    options.OnPopupAppearance = [&mainForm] { mainForm.ApplyAppearance(); };
    options.OnPopupTransparency = [&mainForm] { mainForm.ApplyTransparency(); };
    options.OnLoadPicture = [&mainForm](const QString &file) { return mainForm.LoadPic(file); };
    options.OnStayOnTop = [&mainForm] { mainForm.ApplyStayOnTop(); };
    options.OnTrayIcons = [&mainForm] { mainForm.SetActivationTexts(); };
    options.OnLanguage = [&language](int index) { language.SetLanguage(index); };
    options.OnWriteSettings = [&mainForm](QString *error) { return mainForm.WriteIni(error); };
    options.OnReadSettings = [&mainForm, readSettings = std::move(readSettings)] {
        // The program is closing: what it wrote stays.
        if (mainForm.Closed()) return;
        const QRect place = mainForm.geometry();
        readSettings();
        mainForm.setGeometry(place);
    };
    language.Register(&options, UiForm::Options);
    mainForm.OnShowOptions = [&options] { options.Open(); };
    mainForm.UpdateMenuAvailability();
}
