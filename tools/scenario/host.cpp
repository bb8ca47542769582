// The host the module runs in: paths, login, packets, the host database, the module.
#include "runner_p.h"

namespace fis::scenario {

QString Runner::resolvePath(const QString &path) const
{
    if (QFileInfo(path).isAbsolute())
        return path;
    QString base = QDir::currentPath();
    if (!m_script.baseDir.isEmpty())
        base = m_script.baseDir;
    return QDir(base).absoluteFilePath(path);
}

void Runner::applyLogin()
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
    else
        v.reportDir = QDir(QCoreApplication::applicationDirPath())
                          .absoluteFilePath(QStringLiteral("reports"));
    v.webUrl = m_server ? m_server->host() : QStringLiteral("127.0.0.1");
    v.webPort = m_server ? m_server->port() : 0;
    // The module talks to the recorder; the recorder carries the token to a real server.
    v.authToken = QString();
    Quorvin::setLogin(v);
}

DataPacket Runner::packetOf(const InlineTable &table) const
{
    QList<PacketField> fields;
    for (const TableColumn &c : table.columns)
        fields.append(PacketField{c.name, fieldType(c.type), c.size});
    try {
        return buildPacket(fields, table.rows);
    } catch (const std::exception &e) {
        throw ScriptError(m_current ? m_current->file : m_script.file, table.line,
                          QStringLiteral("the table cannot be made a packet: %1")
                              .arg(QString::fromUtf8(e.what())));
    }
}

DataPacket Runner::namedPacket(const QString &name) const
{
    if (!m_tables.contains(name))
        throw ScriptError(
            m_current->file, m_current->line,
            QStringLiteral("no table named %1 was defined before this line").arg(name));
    return packetOf(m_tables.value(name));
}

void Runner::copyDatabase(const QString &source)
{
    if (!QFileInfo::exists(source))
        failNow(QStringLiteral("database"), QStringLiteral("an existing SQLite file"),
                QStringLiteral("no file %1").arg(source));
    // The script works on a copy: whatever the run does, the file stays as it was.
    QFile::remove(m_databasePath);
    if (!QFile::copy(source, m_databasePath))
        failNow(QStringLiteral("database"), QStringLiteral("a readable SQLite file"),
                QStringLiteral("%1 cannot be copied").arg(source));
    QFile::setPermissions(m_databasePath, QFile::ReadOwner | QFile::WriteOwner);
    // A database in WAL mode keeps its latest writes beside the file: they belong to it.
    const QString wal = m_databasePath + QStringLiteral("-wal");
    QFile::remove(wal);
    QFile::remove(m_databasePath + QStringLiteral("-shm"));
    if (QFileInfo::exists(source + QStringLiteral("-wal")) &&
        !QFile::copy(source + QStringLiteral("-wal"), wal))
        failNow(QStringLiteral("database"), QStringLiteral("a readable SQLite file"),
                QStringLiteral("%1-wal cannot be copied").arg(source));
    m_databaseUsed = true;
    if (m_databaseOpen)
        HostDatabase::open(m_databasePath);
}

// ---- the module and its host ------------------------------------------------------------------

void Runner::ensureDatabase()
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
        failNow(QStringLiteral("host database"), QStringLiteral("the script's database open"),
                QString::fromUtf8(e.what()));
    }
    m_databaseOpen = true;
}

void Runner::ensureModule()
{
    if (m_moduleLoaded)
        return;
    ensureDatabase();
    QString path = m_options.modulePath;
    if (path.isEmpty()) {
        const QString dir = m_options.moduleDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                                          : m_options.moduleDir;
        path = QDir(dir).absoluteFilePath(kModuleFile);
    }
    m_library = new QLibrary(path, this);
    if (!m_library->load())
        failNow(QStringLiteral("module"), QStringLiteral("the module loaded from ") + path,
                m_library->errorString());

    auto *window = new QMainWindow;
    window->setObjectName(QStringLiteral("frmPrincipal"));
    window->setWindowTitle(QStringLiteral("fis-scenario"));
    auto *mdi = new QMdiArea(window);
    mdi->setObjectName(QStringLiteral("mdiArea"));
    window->setCentralWidget(mdi);
    window->menuBar()->setObjectName(QStringLiteral("mnuPrincipal"));
    window->resize(1024, 700);
    window->show();
    QApplication::setActiveWindow(window);
    m_mainWindow = window;
    m_mdi = mdi;
    m_workspace = new ScreenWorkspace(window, mdi, this);

    if (auto setFactory =
            reinterpret_cast<FisSetFormFactoryFunc>(m_library->resolve("SetFormFactory")))
        setFactory(&formFactory);
    if (auto init = reinterpret_cast<FisProc>(m_library->resolve("Initialize")))
        init();
    m_moduleLoaded = true;
}

QWidget *Runner::createForm(const void *requestPtr)
{
    const auto *request = static_cast<const FisFormRequest *>(requestPtr);
    return request && m_workspace ? m_workspace->createForm(*request) : nullptr;
}

bool Runner::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *w = static_cast<QWidget *>(watched);
        if (w->isWindow() && qobject_cast<QDialog *>(w) && w->isModal()) {
            const QString name = describeWidget(w);
            m_dialogLog.append(name);
            m_dialogLines.append(m_currentLine);
            for (int i = 0; i < m_dialogAnswers.size(); ++i) {
                if (m_dialogAnswers[i].first == w->objectName()) {
                    m_injected.append(*m_dialogAnswers[i].second);
                    m_dialogAnswers.removeAt(i);
                    break;
                }
            }
            // The action that opened it waits in the dialog's event loop: go on with the script
            // there.
            if (!m_actionLevels.isEmpty())
                postStep();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace fis::scenario
