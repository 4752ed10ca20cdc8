// Opens the user's guide, "Corvane_e.pdf" (English) or "Corvane_g.pdf" (German), with
// the desktop's default viewer.
//
// The file is looked for, in this order: the current directory (where the program has
// always looked), the program's data directory, share/corvane/ beside the program's bin/
// (the build tree, a relocated install), and the installed <datadir>/corvane/ (for example
// /usr/share/corvane/). Plain functions; main thread.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

QString HelpFileName(bool english);
// The places above, each once; an empty dataDirectory is left out.
QStringList HelpSearchDirectories(const QString &dataDirectory);
// The absolute path of the first readable file of that name, or empty.
QString FindHelpFile(const QString &fileName, const QStringList &directories);
// Finds the file and hands it to QDesktopServices::openUrl. False when no file was
// found or no viewer took it; the caller shows nothing either way.
bool OpenHelp(bool english, const QString &dataDirectory);

} // namespace platform
