// The host the module runs in (see host.h).
#include "host.h"

#include "failure.h"
#include "script.h"

#include "app/screenworkspace.h"
#include "framework/hostdatabase.h"
#include "framework/quorvin.h"
#include "module/packageprotocol.h"
#include "widgets/errorguard.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>
#include <QScreen>
#include <QSqlDatabase>

namespace fis::scenario {

namespace {

const QString kModuleFile = QStringLiteral("libPKG_FIS02900.so");
const QString kDefaultDate = QStringLiteral("02/01/2026");

// The module asks its host for forms through a plain function.
ScreenWorkspace *g_workspace = nullptr;

QWidget *formFactory(const FisFormRequest *request)
{
    return request && g_workspace ? g_workspace->createForm(*request) : nullptr;
}

} // namespace

ScenarioHost::ScenarioHost(QString modulePath, QString moduleDir, QString baseDir, QObject *parent)
    : QObject(parent), m_modulePath(std::move(modulePath)), m_moduleDir(std::move(moduleDir)),
      m_baseDir(std::move(baseDir))
{
    m_databasePath = m_tempDir.filePath(QStringLiteral("host.sqlite"));
}

ScenarioHost::~ScenarioHost()
{
    if (g_workspace == m_workspace)
        g_workspace = nullptr;
}

QString ScenarioHost::resolvePath(const QString &path) const
{
    if (QFileInfo(path).isAbsolute())
        return path;
    QString base = QDir::currentPath();
    if (!m_baseDir.isEmpty())
        base = m_baseDir;
    return QDir(base).absoluteFilePath(path);
}

QString ScenarioHost::outputPath(const QString &name) const
{
    return QFileInfo(name).isAbsolute() ? name : m_tempDir.filePath(name);
}

void ScenarioHost::applyLogin()
{
    LoginValues v;
    v.filiProc = m_login.value(QStringLiteral("FiliProc"), QStringLiteral("0001"));
    v.dataProc = *parseDateLiteral(m_login.value(QStringLiteral("DataProc"), kDefaultDate));
    for (auto it = m_login.cbegin(); it != m_login.cend(); ++it)
        if (it.key().startsWith(QLatin1String("DataProc@")))
            v.branchDates.insert(it.key().mid(9), *parseDateLiteral(it.value()));
    v.nomeOperador = m_login.value(QStringLiteral("NomeOperador"), QStringLiteral("TESTE"));
    const QString reports = m_login.value(QStringLiteral("ReportDir"));
    if (!reports.isEmpty())
        v.reportDir = resolvePath(reports);
    else // where the build installs the definitions, with the picture of the guide form
        v.reportDir =
            QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("rel"));
    v.webUrl = m_serverHost;
    v.webPort = m_serverPort;
    // The module talks to the recorder; the recorder carries the token to a real server.
    v.authToken = QString();
    Quorvin::setLogin(v);
}

void ScenarioHost::setServerAddress(const QString &host, int port)
{
    m_serverHost = host;
    m_serverPort = port;
}

void ScenarioHost::addLogin(const QMap<QString, QString> &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_login.insert(it.key(), it.value());
    applyLogin();
}

void ScenarioHost::copyDatabase(const QString &source)
{
    if (!QFileInfo::exists(source))
        fail(QStringLiteral("database"), QStringLiteral("an existing SQLite file"),
             QStringLiteral("no file %1").arg(source));
    // The script works on a copy: whatever the run does, the file stays as it was.
    QFile::remove(m_databasePath);
    if (!QFile::copy(source, m_databasePath))
        fail(QStringLiteral("database"), QStringLiteral("a readable SQLite file"),
             QStringLiteral("%1 cannot be copied").arg(source));
    QFile::setPermissions(m_databasePath, QFile::ReadOwner | QFile::WriteOwner);
    // A database in WAL mode keeps its latest writes beside the file: they belong to it.
    const QString wal = m_databasePath + QStringLiteral("-wal");
    QFile::remove(wal);
    QFile::remove(m_databasePath + QStringLiteral("-shm"));
    if (QFileInfo::exists(source + QStringLiteral("-wal")) &&
        !QFile::copy(source + QStringLiteral("-wal"), wal))
        fail(QStringLiteral("database"), QStringLiteral("a readable SQLite file"),
             QStringLiteral("%1-wal cannot be copied").arg(source));
    m_databaseUsed = true;
    m_databaseSource = QFileInfo(source).absoluteFilePath();
    if (m_databaseOpen)
        HostDatabase::open(m_databasePath);
}

void ScenarioHost::ensureDatabase()
{
    if (m_databaseOpen)
        return;
    if (!QFileInfo::exists(m_databasePath)) {
        // A fresh, empty database: the screens find no lookup rows unless the script gives some.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("fis_scenario_create"));
        db.setDatabaseName(m_databasePath);
        db.open();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("fis_scenario_create"));
    }
    try {
        HostDatabase::open(m_databasePath);
    } catch (const std::exception &e) {
        fail(QStringLiteral("host database"), QStringLiteral("the script's database open"),
             QString::fromUtf8(e.what()));
    }
    m_databaseOpen = true;
}

void ScenarioHost::ensureModule()
{
    if (m_moduleLoaded)
        return;
    ensureDatabase();
    QString path = m_modulePath;
    if (path.isEmpty()) {
        const QString dir =
            m_moduleDir.isEmpty() ? QCoreApplication::applicationDirPath() : m_moduleDir;
        path = QDir(dir).absoluteFilePath(kModuleFile);
    }
    m_library = new QLibrary(path, this);
    if (!m_library->load())
        fail(QStringLiteral("module"), QStringLiteral("the module loaded from ") + path,
             m_library->errorString());

    auto *window = new QMainWindow;
    window->setObjectName(QStringLiteral("frmPrincipal"));
    window->setWindowTitle(QStringLiteral("fis-scenario"));
    auto *mdi = new QMdiArea(window);
    mdi->setObjectName(QStringLiteral("mdiArea"));
    window->setCentralWidget(mdi);
    window->menuBar()->setObjectName(QStringLiteral("mnuPrincipal"));
    window->resize(1024, 700);
    // On a real display (the screenshots' Xvfb) the window fills the screen, as fis-host's does.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        if (QScreen *screen = QGuiApplication::primaryScreen())
            window->setGeometry(screen->availableGeometry());
    window->show();
    QApplication::setActiveWindow(window);
    m_mainWindow = window;
    m_mdi = mdi;
    m_workspace = new ScreenWorkspace(window, mdi, this);
    g_workspace = m_workspace;

    if (auto setFactory =
            reinterpret_cast<FisSetFormFactoryFunc>(m_library->resolve("SetFormFactory")))
        setFactory(&formFactory);
    if (auto init = reinterpret_cast<FisProc>(m_library->resolve("Initialize")))
        init();
    m_moduleLoaded = true;
}

QFunctionPointer ScenarioHost::resolve(const char *symbol) const
{
    return m_library ? m_library->resolve(symbol) : nullptr;
}

bool ScenarioHost::callEntryPoint(const QString &name, std::optional<bool> *result)
{
    *result = std::nullopt;
    const QByteArray symbol = name.toLatin1();
    QFunctionPointer f = resolve(symbol.constData());
    if (!f)
        return false;
    if (name == QLatin1String("CriaFiltroEmiPrevSocial")) {
        bool answer = false;
        fis::guarded([&] { answer = reinterpret_cast<FisBoolFunc>(f)(); });
        *result = answer;
    } else {
        fis::guarded([&] { reinterpret_cast<FisProc>(f)(); });
    }
    return true;
}

} // namespace fis::scenario
