#pragma once
// What the host application starts with: the login values of the session, the host database and
// the screen to open, read from a settings file (INI) and the command line, over working
// defaults for the embedded set-up (application server on 127.0.0.1:8211, SQLite database in
// build/var).
//
// Settings file (all keys optional):
//   [Login]    FiliProc=0001  DataProc=dd/MM/yyyy  NomeOperador=...
//   [Branches] 0002=dd/MM/yyyy              processing date of one branch
//   [Server]   WebURL=127.0.0.1  WebPort=8211  Token=...  Timeout=60 (seconds per call)
//   [Paths]    Database=<SQLite file or postgresql:// URL>  ReportDir=<dir>
// Relative paths in the file are relative to the file's folder. The command line wins over the
// file, the file over the defaults.
#include "framework/quorvin.h"

#include <QString>
#include <QStringList>

namespace fis {

struct HostSettings
{
    LoginValues login;
    QString database;     // SQLite file path or postgresql:// URL
    QString settingsFile; // the file read, empty when none
    QString openScreen;   // screen to open at start ("FIS02900"), empty for none
    QString modulePath;   // the screen module to load
};

// Where the program looks for things, so tests can point it elsewhere.
struct HostPaths
{
    QString appDir;    // folder of the executable (build/bin)
    QString configDir; // the user's configuration folder (~/.config)
    QString sourceDir; // the source tree, for its reports/ folder; may be empty
    QString userName;  // default operator name
    QString today;     // dd/MM/yyyy, default processing date
};

HostPaths defaultHostPaths();

// Reads the settings file and the command line (arguments[0] is the program). On bad input
// answers false and puts the reason, in Portuguese, into *error; *settings is then unchanged.
// --help and --version are left to the caller (see hostOptionsHelp()).
bool parseHostSettings(const QStringList &arguments, const HostPaths &paths, HostSettings *settings,
                       QString *error);

// The usage text of the command line.
QString hostOptionsHelp();

// Screens the host knows how to open, by code.
inline constexpr const char *kScreenFis02900 = "FIS02900";

} // namespace fis
