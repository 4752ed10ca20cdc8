#pragma once

#include <QString>

// Where Corvane keeps its files: the ini file, the log, the three lists with their companions
// and the area-code table all live in one data directory. Stateless functions; any thread.
namespace DataDir {

// $CORVANE_HOME when set; else the program's own directory when corvane.ini is there (a
// portable installation); else $XDG_DATA_HOME/corvane. A missing directory is created with
// mode 0700.
QString path();

// path() without creating it (for texts such as the usage).
QString location();

// True when the data directory is the usual $XDG_DATA_HOME/corvane, however it was chosen.
bool isDefault();

// Earlier versions left the files readable to others: the program's files in the data
// directory become private, and so does the directory itself when it is the one under
// $XDG_DATA_HOME.
void tightenPermissions();

// A file in the data directory, e.g. filePath("Calls").
QString filePath(const QString &name);

QString iniFile(); // corvane.ini
QString logFile(); // corvane.log

// orte.asc of the data directory, else the copy installed with the program, else empty.
QString areaCodeFile();

// The directory of the running program (also without a QCoreApplication).
QString programDir();

} // namespace DataDir
