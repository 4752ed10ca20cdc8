#pragma once

#include "lookup/CallerLookup.h"
#include "lookup/LookupWorker.h"
#include "lookup/ReverseLookupForm.h"
#include "lookup/UserPlugin.h"

#include <QObject>

#include <functional>
#include <memory>
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
// handling requests lookups (StartLookup), the lists dialog looks up synchronously
// (SynchronousLookup, Enabled) and the dial window rewrites numbers (ModifyNumber). The
// settings themselves are not changed here. A plug-in that cannot be loaded is reported with
// an information box and leaves no plug-in of its kind loaded.
//
// Main thread only. Switching sources never waits: a lookup under way finishes on its own
// and is still delivered. Destroying the object ends every lookup at once, delivers nothing
// more, and leaves a plug-in a worker may still be inside loaded until the process ends.
class LookupSources : public QObject, public ICallerLookup
{
public:
    explicit LookupSources(ListPrompts &prompts, QObject *parent = nullptr);
    ~LookupSources() override;

    // Each result of a background lookup, in the main thread.
    std::function<void(const LookupResult &)> OnLookupResult;

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
    // A lookup in the main thread, with its own client: true with the name and the further
    // lines, one per line, when a name was found.
    bool SynchronousLookup(const QString &number, QString &text);
    // The number plug-in's replacement of the number; the number itself without a number
    // plug-in or when the plug-in reports no change (or an empty one).
    QString ModifyNumber(const QString &number);
    // A lookup source is active: the built-in lookup with a server, or a lookup plug-in.
    bool Enabled() const;

private:
    void StopWorker();
    void StartWorker(std::shared_ptr<LookupWorker> worker);
    void ForgetEndedWorkers();

    ListPrompts &FPrompts;
    bool FBuiltIn = false;
    QString FServerUrl;
    std::unique_ptr<TfrmLookup> FSyncClient; // the synchronous lookup's own request state
    std::shared_ptr<TUserPlugin> FLookupPlugin;
    UserPluginFunction FLookupFunction = nullptr;
    std::shared_ptr<TUserPlugin> FNumberPlugin;
    UserPluginFunction FModifyFunction = nullptr;
    std::shared_ptr<LookupWorker> FWorker;
    // Stopped workers that may still be finishing a lookup; each frees itself when it ends.
    std::vector<std::weak_ptr<LookupWorker>> FStopped;
};
