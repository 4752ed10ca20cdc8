#pragma once

#include "lists/lang.h"
#include "lookup/CallerLookup.h"
#include "lookup/LookupWorker.h"
#include "lookup/ReverseLookupForm.h"
#include "lookup/UserPlugin.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ListPrompts;
struct GeneralSettings;

// The sources that identify a caller beyond the user's own lists, and the number rewrite
// before dialling:
// - the built-in reverse lookup over HTTP (a server's base URL) or a user's lookup plug-in,
//   at most one of them active;
// - a user's number plug-in, which rewrites a number before it is dialled.
//
// Owned by the main window: created before the other windows and destroyed after them. The
// options dialog chooses the sources (ApplySettings at start and after a cancelled dialog,
// SelectBuiltIn / SelectPlugin / LoadNumberPlugin when the user changes them); the call
// handling requests lookups (StartLookup), the lists dialog asks for a reverse search
// (ReverseSearch, Enabled) and the dial window rewrites numbers (ModifyNumber). The settings
// themselves are not changed here. A plug-in that cannot be loaded is reported with an
// information box and leaves no plug-in of its kind loaded.
//
// Main thread only; nothing here waits for a plug-in or a server. A reverse search and a
// number rewrite each run on a thread of their own. A plug-in call that has not returned
// after PluginTimeLimitMs ends that action with a message and shuts the library off until the
// program ends. Switching sources never waits: a lookup under way finishes on its own and is
// still delivered. Destroying the object ends every lookup at once, delivers nothing more,
// and leaves a plug-in a thread may still be inside loaded until the process ends.
class LookupSources : public QObject, public ICallerLookup, public ILanguageSwitchable
{
public:
    explicit LookupSources(ListPrompts &prompts, QObject *parent = nullptr);
    ~LookupSources() override;

    // Each result of a background lookup, in the main thread.
    std::function<void(const LookupResult &)> OnLookupResult;
    // How long a reverse search or a number rewrite waits for a plug-in.
    int PluginTimeLimitMs = 10000;

    // The language of the messages.
    void ApplyLanguage(Language language) override { FLanguage = language; }

    // ---- Choosing the sources ------------------------------------------------------------
    // The settings' choice: the number plug-in "ExternalNumberManipulationDLL" (when named),
    // then the built-in lookup with "ReverseLookupURL" when "InternalReverseSearch" is on,
    // else the lookup plug-in "ExternalNumberLookupDLL" (when named).
    void ApplySettings(const GeneralSettings &settings);
    // The lookup source only: SelectBuiltIn with "ReverseLookupURL" when
    // "InternalReverseSearch" is on, else SelectPlugin with "ExternalNumberLookupDLL".
    void SelectSource(const GeneralSettings &settings);
    // The built-in lookup: unloads a lookup plug-in and starts a new worker for the server
    // (none for an empty URL: the built-in lookup is then not enabled).
    void SelectBuiltIn(const QString &serverUrl);
    // The lookup plug-in: stops the built-in lookup and unloads the plug-in loaded before, then
    // loads the one at the path. An empty path leaves no lookup source; false after the load
    // message ("unable to load library ..." or "unable to load function TmLookupNumber from
    // user plug-in").
    bool SelectPlugin(const QString &path);
    // The number plug-in: unloads the one loaded before, then loads the one at the path (an
    // empty path only unloads); false after the load message.
    bool LoadNumberPlugin(const QString &path);

    bool BuiltInSelected() const { return FBuiltIn; }
    QString ServerUrl() const { return FServerUrl; }
    QString LookupPluginPath() const { return FLookupPlugin ? FLookupPlugin->path() : QString(); }
    QString NumberPluginPath() const { return FNumberPlugin ? FNumberPlugin->path() : QString(); }

    // ---- Used by the call handling, the lists dialog and the dial window -----------------
    // Hands the number to the active source's worker; nothing happens without a source or
    // for a call without number.
    void StartLookup(const QString &number) override;

    // Called once, in the main thread, unless the context was deleted or the sources ended
    // first. Answered with the text (empty: nothing found); not answered when the action
    // ended otherwise (the server gave no answer, the plug-in did not answer in time), after
    // its message.
    using SearchDone = std::function<void(bool answered, const QString &text)>;
    // The user's lookup of one number with the active source, on a thread of its own (the
    // worker goes on with the calls): the name and the further lines, one per line.
    void ReverseSearch(const QString &number, QObject *context, SearchDone done);
    // The number plug-in's replacement of the number; the number itself without a number
    // plug-in or when the plug-in reports no change (or an empty one). The call runs on a
    // thread of its own while the event loop turns; nothing when it ended otherwise (the
    // plug-in did not answer in time, after its message, or the program is ending).
    std::optional<QString> ModifyNumber(const QString &number);
    // A lookup source is active: the built-in lookup with a server, or a lookup plug-in.
    bool Enabled() const;
    // What the user is told when the server gave no answer, for the reason a lookup gave.
    QString FailureText(const QString &failure) const;

private:
    struct Action;
    // What an action's thread found: not answered when a shut-off plug-in was not called.
    struct Reply
    {
        bool answered = true;
        QString text;
        QString failure; // why the server gave no answer
    };

    void StopWorker();
    void StartWorker(std::shared_ptr<LookupWorker> worker);
    void ForgetEndedWorkers();
    void CallPlugin(const std::shared_ptr<TUserPlugin> &plugin, UserPluginFunction function,
                    const QString &number, QObject *context, SearchDone done);
    void Run(const std::shared_ptr<Action> &action, std::function<Reply()> work);
    void Finish(const std::shared_ptr<Action> &action, const Reply &reply);
    void Expire(const std::shared_ptr<Action> &action);
    void InformShutOff(const QString &path);

    ListPrompts &FPrompts;
    Language FLanguage = Language::German;
    bool FBuiltIn = false;
    QString FServerUrl;
    std::shared_ptr<TUserPlugin> FLookupPlugin;
    UserPluginFunction FLookupFunction = nullptr;
    std::shared_ptr<TUserPlugin> FNumberPlugin;
    UserPluginFunction FModifyFunction = nullptr;
    std::shared_ptr<LookupWorker> FWorker;
    // Stopped workers that may still be finishing a lookup; each frees itself when it ends.
    std::vector<std::weak_ptr<LookupWorker>> FStopped;
    // Reverse searches and number rewrites under way.
    std::vector<std::shared_ptr<Action>> FActions;
};
