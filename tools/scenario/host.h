#pragma once
// The host the module runs in, as fis-host provides it: the login values, the host database (a
// file made for the script, or a copy of one), and the module itself, loaded with QLibrary on the
// first action, with a main window whose MDI area holds the screens and merges their menus.
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>

#include <optional>

class QLibrary;
class QMainWindow;
class QMdiArea;

namespace fis {
class ScreenWorkspace;
} // namespace fis

namespace fis::scenario {

class ScenarioHost : public QObject
{
public:
    // modulePath: the module file, or empty for libPKG_FIS02900.so in moduleDir (empty: beside
    // the program). baseDir: where the script's relative paths start.
    ScenarioHost(QString modulePath, QString moduleDir, QString baseDir, QObject *parent = nullptr);
    ~ScenarioHost() override;

    bool hasTempDir() const { return m_tempDir.isValid(); }
    // A path of the script, relative to its folder.
    QString resolvePath(const QString &path) const;
    // A file the run writes (a PDF the clerk saves): relative to the run's temporary folder.
    QString outputPath(const QString &name) const;

    // ---- login ----
    // The server the module talks to (the WebURL and WebPort of the login).
    void setServerAddress(const QString &host, int port);
    // Adds login values (FiliProc, DataProc, DataProc@BRANCH, NomeOperador, ReportDir) and hands
    // the login to the framework; what the script never set has its default.
    void addLogin(const QMap<QString, QString> &values);
    void applyLogin();

    // ---- the host database ----
    QString databasePath() const { return m_databasePath; }
    // The file the host database was copied from (the application server's own in an
    // end-to-end run), empty when it was made for the script.
    QString databaseSource() const { return m_databaseSource; }
    // Something was written to it (or it was copied): a database file may no longer be chosen.
    bool databaseUsed() const { return m_databaseUsed; }
    void markDatabaseUsed() { m_databaseUsed = true; }
    // The host database becomes a copy of source (the file itself is never written). Fails
    // when it cannot be copied.
    void copyDatabase(const QString &source);
    // Opens the host database for the module (an empty one when the script made none).
    void ensureDatabase();

    // ---- the module ----
    // Loads the module and opens the main window, once; fails when the module cannot be loaded.
    void ensureModule();
    bool moduleLoaded() const { return m_moduleLoaded; }
    // An entry point of the loaded module, or null.
    QFunctionPointer resolve(const char *symbol) const;
    // Calls an entry point of the module inside the error guard; false when the module has none.
    // The one with a result (CriaFiltroEmiPrevSocial) puts it in *result, the others nullopt.
    bool callEntryPoint(const QString &name, std::optional<bool> *result);

private:
    QString m_modulePath;
    QString m_moduleDir;
    QString m_baseDir;
    QTemporaryDir m_tempDir;
    QString m_databasePath;
    QString m_databaseSource;
    bool m_databaseUsed = false;
    bool m_databaseOpen = false;
    QMap<QString, QString> m_login;
    QString m_serverHost = QStringLiteral("127.0.0.1");
    int m_serverPort = 0;

    bool m_moduleLoaded = false;
    QLibrary *m_library = nullptr;
    QPointer<QMainWindow> m_mainWindow;
    QPointer<QMdiArea> m_mdi;
    QPointer<ScreenWorkspace> m_workspace; // frames and menu merging, as in the real host
};

} // namespace fis::scenario
