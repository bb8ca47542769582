#include "app/hostsettings.h"

#include "framework/consiste.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#ifndef FIS_SOURCE_DIR
#define FIS_SOURCE_DIR ""
#endif

namespace fis {

namespace {

const QString kDefaultHost = QStringLiteral("127.0.0.1");
constexpr int kDefaultPort = 8211;
const QString kDefaultBranch = QStringLiteral("0001");

struct Options
{
    QCommandLineOption settings{QStringLiteral("settings"),
                                QStringLiteral("Arquivo de configuração (INI)."),
                                QStringLiteral("arquivo")};
    QCommandLineOption branch{QStringLiteral("branch"),
                              QStringLiteral("Filial do login (FiliProc)."),
                              QStringLiteral("filial")};
    QCommandLineOption processingDate{QStringLiteral("processing-date"),
                                      QStringLiteral("Data de processamento da filial do login."),
                                      QStringLiteral("dd/MM/aaaa")};
    QCommandLineOption operatorName{QStringLiteral("operator"),
                                    QStringLiteral("Nome do operador (NomeOperador)."),
                                    QStringLiteral("nome")};
    QCommandLineOption serverHost{
        QStringList{QStringLiteral("server-host"), QStringLiteral("web-url")},
        QStringLiteral("Endereço do servidor de aplicação (WebURL)."), QStringLiteral("endereço")};
    QCommandLineOption serverPort{
        QStringList{QStringLiteral("server-port"), QStringLiteral("web-port")},
        QStringLiteral("Porta do servidor de aplicação (WebPort)."), QStringLiteral("porta")};
    QCommandLineOption token{QStringLiteral("token"),
                             QStringLiteral("Chave de acesso ao servidor de aplicação."),
                             QStringLiteral("chave")};
    QCommandLineOption callTimeout{
        QStringLiteral("call-timeout"),
        QStringLiteral("Segundos de espera pela resposta do servidor em cada chamada (padrão 60)."),
        QStringLiteral("segundos")};
    QCommandLineOption database{QStringLiteral("database"),
                                QStringLiteral("Banco de dados: arquivo SQLite ou URL "
                                               "postgresql://."),
                                QStringLiteral("banco")};
    QCommandLineOption reportDir{QStringLiteral("report-dir"),
                                 QStringLiteral("Diretório das definições de relatório."),
                                 QStringLiteral("diretório")};
    QCommandLineOption open{QStringLiteral("open"),
                            QStringLiteral("Tela aberta ao iniciar (FIS02900)."),
                            QStringLiteral("tela")};
    QCommandLineOption module{QStringLiteral("module"),
                              QStringLiteral("Arquivo do módulo da tela (libPKG_FIS02900.so)."),
                              QStringLiteral("arquivo")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(
            QStringLiteral("Aplicativo fiscal: emissão da Guia da Previdência Social."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({settings, branch, processingDate, operatorName, serverHost, serverPort,
                           token, callTimeout, database, reportDir, open, module});
    }
};

bool isUrl(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://")) ||
           location.startsWith(QLatin1String("postgres://"));
}

// A path of the settings file is relative to the file's folder; one of the command line to the
// current folder.
QString resolvePath(const QString &path, const QString &baseDir)
{
    if (path.isEmpty() || isUrl(path) || path == QLatin1String(":memory:"))
        return path;
    const QFileInfo info(path);
    if (info.isAbsolute())
        return QDir::cleanPath(path);
    return QDir::cleanPath(QDir(baseDir).absoluteFilePath(path));
}

bool parseDate(const QString &text, const QString &what, TDateTime *out, QString *error)
{
    bool ok = false;
    const TDateTime date = Consiste::parseDate(text, &ok);
    if (!ok || date.isNull()) {
        *error = QStringLiteral("%1 inválida: \"%2\" (use dd/mm/aaaa).").arg(what, text);
        return false;
    }
    *out = date;
    return true;
}

bool parsePort(const QString &text, int *out, QString *error)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        *error = QStringLiteral("Porta do servidor de aplicação inválida: \"%1\" (de 1 a 65535).")
                     .arg(text);
        return false;
    }
    *out = port;
    return true;
}

constexpr int kMaxCallTimeout = 3600;

bool parseTimeout(const QString &text, int *out, QString *error)
{
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok);
    if (!ok || seconds < 1 || seconds > kMaxCallTimeout) {
        *error =
            QStringLiteral("Tempo de espera do servidor inválido: \"%1\" (de 1 a %2 segundos).")
                .arg(text)
                .arg(kMaxCallTimeout);
        return false;
    }
    *out = seconds;
    return true;
}

QString findSettingsFile(const HostPaths &paths)
{
    const QStringList candidates{
        QDir(paths.appDir).filePath(QStringLiteral("fis-host.ini")),
        QDir(paths.configDir).filePath(QStringLiteral("fis-host/fis-host.ini")),
    };
    for (const QString &file : candidates) {
        if (!file.isEmpty() && QFileInfo(file).isFile())
            return file;
    }
    return {};
}

// The build installs the reports in "rel" beside the program, with the picture of the guide
// form, which the screens find from the report directory's "rel".
QString defaultReportDir(const HostPaths &paths)
{
    const QString beside = QDir(paths.appDir).filePath(QStringLiteral("rel"));
    if (QFileInfo(beside).isDir() || paths.sourceDir.isEmpty())
        return QDir::cleanPath(beside);
    const QString inSource = QDir(paths.sourceDir).filePath(QStringLiteral("reports"));
    return QDir::cleanPath(QFileInfo(inSource).isDir() ? inSource : beside);
}

bool readSettingsFile(const QString &file, HostSettings *s, QString *error)
{
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("Arquivo de configuração não encontrado: %1").arg(file);
        return false;
    }
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *error = QStringLiteral("Arquivo de configuração ilegível: %1").arg(file);
        return false;
    }
    const QString base = QFileInfo(file).absolutePath();
    auto text = [&ini](const char *key) { return ini.value(QLatin1String(key)).toString(); };
    auto has = [&ini](const char *key) { return ini.contains(QLatin1String(key)); };
    const QString where = QStringLiteral(" em %1").arg(file);

    if (has("Login/FiliProc"))
        s->login.filiProc = text("Login/FiliProc").trimmed();
    if (has("Login/DataProc") &&
        !parseDate(text("Login/DataProc"), QStringLiteral("Data de processamento"),
                   &s->login.dataProc, error)) {
        *error += where;
        return false;
    }
    if (has("Login/NomeOperador"))
        s->login.nomeOperador = text("Login/NomeOperador").trimmed();
    ini.beginGroup(QStringLiteral("Branches"));
    const QStringList branches = ini.childKeys();
    ini.endGroup();
    for (const QString &branch : branches) {
        TDateTime date;
        if (!parseDate(ini.value(QStringLiteral("Branches/") + branch).toString(),
                       QStringLiteral("Data de processamento da filial %1").arg(branch), &date,
                       error)) {
            *error += where;
            return false;
        }
        s->login.branchDates.insert(branch, date);
    }
    if (has("Server/WebURL"))
        s->login.webUrl = text("Server/WebURL").trimmed();
    if (has("Server/WebPort") && !parsePort(text("Server/WebPort"), &s->login.webPort, error)) {
        *error += where;
        return false;
    }
    if (has("Server/Token"))
        s->login.authToken = text("Server/Token");
    if (has("Server/Timeout") &&
        !parseTimeout(text("Server/Timeout"), &s->login.callTimeout, error)) {
        *error += where;
        return false;
    }
    if (has("Paths/Database"))
        s->database = resolvePath(text("Paths/Database").trimmed(), base);
    if (has("Paths/ReportDir"))
        s->login.reportDir = resolvePath(text("Paths/ReportDir").trimmed(), base);
    return true;
}

} // namespace

HostPaths defaultHostPaths()
{
    HostPaths paths;
    paths.appDir = QCoreApplication::applicationDirPath();
    paths.configDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    paths.sourceDir = QString::fromUtf8(FIS_SOURCE_DIR);
    paths.userName = qEnvironmentVariable("USER");
    paths.today = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    return paths;
}

bool parseHostSettings(const QStringList &arguments, const HostPaths &paths, HostSettings *settings,
                       QString *error)
{
    const Options o;
    QCommandLineParser parser;
    o.addTo(parser);
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("Argumento desconhecido: %1")
                     .arg(parser.positionalArguments().constFirst());
        return false;
    }

    HostSettings s;
    s.login.filiProc = kDefaultBranch;
    s.login.nomeOperador = paths.userName.isEmpty() ? QStringLiteral("OPERADOR") : paths.userName;
    if (!parseDate(paths.today, QStringLiteral("Data de hoje"), &s.login.dataProc, error))
        return false;
    s.login.webUrl = kDefaultHost;
    s.login.webPort = kDefaultPort;
    s.login.reportDir = defaultReportDir(paths);
    s.database = QDir::cleanPath(QDir(paths.appDir).filePath(QStringLiteral("../var/fis.sqlite")));
    s.modulePath = QDir(paths.appDir).filePath(QStringLiteral("libPKG_FIS02900.so"));

    s.settingsFile = parser.isSet(o.settings)
                         ? resolvePath(parser.value(o.settings), QDir::currentPath())
                         : findSettingsFile(paths);
    if (!s.settingsFile.isEmpty() && !readSettingsFile(s.settingsFile, &s, error))
        return false;

    const QString cwd = QDir::currentPath();
    if (parser.isSet(o.branch))
        s.login.filiProc = parser.value(o.branch).trimmed();
    if (parser.isSet(o.processingDate)) {
        if (!parseDate(parser.value(o.processingDate), QStringLiteral("Data de processamento"),
                       &s.login.dataProc, error))
            return false;
        // The date given is the login branch's, whatever the file says of that branch.
        s.login.branchDates.remove(s.login.filiProc);
    }
    if (parser.isSet(o.operatorName))
        s.login.nomeOperador = parser.value(o.operatorName).trimmed();
    if (parser.isSet(o.serverHost))
        s.login.webUrl = parser.value(o.serverHost).trimmed();
    if (parser.isSet(o.serverPort) &&
        !parsePort(parser.value(o.serverPort), &s.login.webPort, error))
        return false;
    if (parser.isSet(o.token))
        s.login.authToken = parser.value(o.token);
    if (parser.isSet(o.callTimeout) &&
        !parseTimeout(parser.value(o.callTimeout), &s.login.callTimeout, error))
        return false;
    if (parser.isSet(o.database))
        s.database = resolvePath(parser.value(o.database).trimmed(), cwd);
    if (parser.isSet(o.reportDir))
        s.login.reportDir = resolvePath(parser.value(o.reportDir).trimmed(), cwd);
    if (parser.isSet(o.module))
        s.modulePath = resolvePath(parser.value(o.module).trimmed(), cwd);
    if (parser.isSet(o.open)) {
        s.openScreen = parser.value(o.open).trimmed().toUpper();
        if (s.openScreen != QLatin1String(kScreenFis02900)) {
            *error = QStringLiteral("Tela desconhecida: \"%1\" (disponível: %2).")
                         .arg(parser.value(o.open), QLatin1String(kScreenFis02900));
            return false;
        }
    }

    if (s.login.filiProc.isEmpty()) {
        *error = QStringLiteral("A filial do login deve ser informada.");
        return false;
    }
    if (s.login.webUrl.isEmpty()) {
        *error = QStringLiteral("O endereço do servidor de aplicação deve ser informado.");
        return false;
    }
    *settings = s;
    return true;
}

QString hostOptionsHelp()
{
    const Options o;
    QCommandLineParser parser;
    o.addTo(parser);
    return parser.helpText();
}

} // namespace fis
