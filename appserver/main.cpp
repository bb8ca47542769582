// fis-appserver: the application server of the GPS emission screen.
//
//   fis-appserver --listen 127.0.0.1:PORT --database URL [--demo-data N]
//                 [--token T | --token-file FILE] [--threads N]
//
// URL is a SQLite file (created with its schema on first start) or
// postgresql://user@host:port/db. Port 0 picks a free port; the chosen one is printed as
// "listening on 127.0.0.1:<port>". The token may also come from FIS_APPSERVER_TOKEN; an address
// that is not loopback requires one. One log line per call goes to stderr. SIGTERM and SIGINT
// stop the server cleanly.
#include "database.h"
#include "demodata.h"
#include "rpcbinding.h"

#include "net/httplistener.h"
#include "net/rpcserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSqlError>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/resource.h>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "fis-appserver: %s\n", qPrintable(message));
    return 2;
}

const char *outcomeName(fis::RpcOutcome o)
{
    switch (o) {
    case fis::RpcOutcome::Ok:
        return "ok";
    case fis::RpcOutcome::Failed:
        return "erro";
    case fis::RpcOutcome::Rejected:
        return "recusada";
    }
    return "?";
}

// The shared token: --token (visible to every local user in the process list), else the first
// line of --token-file, else FIS_APPSERVER_TOKEN. False with *error when a file cannot be used.
bool readToken(const QCommandLineParser &parser, const QCommandLineOption &tokenOpt,
               const QCommandLineOption &fileOpt, QString *token, QString *error)
{
    if (parser.isSet(tokenOpt)) {
        *token = parser.value(tokenOpt);
        return true;
    }
    if (parser.isSet(fileOpt)) {
        QFile file(parser.value(fileOpt));
        if (!file.open(QIODevice::ReadOnly)) {
            *error =
                QStringLiteral("--token-file: %1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        *token = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (token->isEmpty()) {
            *error = QStringLiteral("--token-file: %1 está vazio").arg(file.fileName());
            return false;
        }
        return true;
    }
    *token = qEnvironmentVariable("FIS_APPSERVER_TOKEN").trimmed();
    return true;
}

// Every connection is a file descriptor: allow as many as the system lets this process have.
void raiseOpenFileLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    raiseOpenFileLimit();
    QCoreApplication::setApplicationName(QStringLiteral("fis-appserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Servidor de aplicação da emissão da GPS."));
    parser.addHelpOption();
    const QCommandLineOption listenOpt(
        QStringLiteral("listen"), QStringLiteral("Endereço e porta (padrão 127.0.0.1:8211)."),
        QStringLiteral("host:porta"), QStringLiteral("127.0.0.1:8211"));
    const QCommandLineOption dbOpt(
        QStringLiteral("database"),
        QStringLiteral("Arquivo SQLite ou postgresql://usuario@host:porta/banco."),
        QStringLiteral("url"), QStringLiteral("fis-appserver.db"));
    const QCommandLineOption demoOpt(
        QStringLiteral("demo-data"),
        QStringLiteral("Gera N notas fiscais de demonstração num banco vazio."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption tokenOpt(
        QStringLiteral("token"),
        QStringLiteral("Ficha exigida dos clientes (visível na lista de processos: prefira "
                       "--token-file ou FIS_APPSERVER_TOKEN)."),
        QStringLiteral("ficha"));
    const QCommandLineOption tokenFileOpt(
        QStringLiteral("token-file"),
        QStringLiteral("Arquivo cuja primeira linha é a ficha exigida dos clientes."),
        QStringLiteral("arquivo"));
    const QCommandLineOption threadsOpt(QStringLiteral("threads"),
                                        QStringLiteral("Linhas de execução (padrão 32)."),
                                        QStringLiteral("N"), QStringLiteral("32"));
    parser.addOptions({listenOpt, dbOpt, demoOpt, tokenOpt, tokenFileOpt, threadsOpt});
    parser.process(app);

    const QString listen = parser.value(listenOpt);
    const int colon = int(listen.lastIndexOf(u':'));
    bool portOk = false;
    const int port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : -1;
    const QString host = colon > 0 ? listen.left(colon) : QString();
    if (!portOk || port < 0 || port > 65535 || host.isEmpty())
        return fail(QStringLiteral("endereço inválido em --listen: %1").arg(listen));
    QString token, error;
    if (!readToken(parser, tokenOpt, tokenFileOpt, &token, &error))
        return fail(error);
    // Loopback is what the name resolves to, not how it is spelt.
    if (token.isEmpty() && !fis::isLoopbackHost(host))
        return fail(QStringLiteral("escutar em %1 exige uma ficha (--token, --token-file ou "
                                   "FIS_APPSERVER_TOKEN)")
                        .arg(host));
    bool demoOk = false;
    const int demo = parser.value(demoOpt).toInt(&demoOk);
    if (!demoOk || demo < 0)
        return fail(QStringLiteral("--demo-data deve ser um número >= 0"));

    fis::DbConfig config;
    if (!fis::DbConfig::parse(parser.value(dbOpt), &config, &error))
        return fail(error);
    {
        QSqlDatabase db =
            fis::openConnection(config, QStringLiteral("fis-appserver-setup"), &error);
        if (!db.isOpen())
            return fail(error);
        if (!fis::applySchema(db, config.kind, &error))
            return fail(QStringLiteral("esquema: %1").arg(error));
        if (demo > 0) {
            fis::DemoOptions options;
            options.invoices = demo;
            if (!fis::generateDemoData(db, config.kind, options, &error))
                return fail(QStringLiteral("dados de demonstração: %1").arg(error));
        }
        // Start with an empty write-ahead log: every page read looks it up first, and a big
        // one (left by the demo data or an unclean stop) slows every call until it is reset.
        if (config.kind == fis::DbKind::Sqlite)
            QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fis-appserver-setup"));

    // Every thread started from here on inherits the blocked signals; main waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    fis::RpcServerOptions options;
    options.host = host;
    options.port = port;
    options.loopbackOnly = token.isEmpty(); // the resolved address is checked again on binding
    options.token = token.toUtf8();
    // The largest honest request is a selection packet of a few thousand invoices.
    options.maxBodyBytes = 16 * 1024 * 1024;
    options.threads = qBound(2, parser.value(threadsOpt).toInt(), 256);
    options.onThreadStop = [](int) { fis::closeThreadConnection(); };
    options.healthCheck = [config](int) {
        try {
            QSqlDatabase db = fis::threadConnection(config);
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT 1")))
                return QString();
            const QString why = q.lastError().text();
            q = QSqlQuery();
            fis::closeThreadConnection(); // the next call opens a fresh one
            return QStringLiteral("banco de dados indisponível: %1").arg(why);
        } catch (const std::exception &e) {
            return QStringLiteral("banco de dados indisponível: %1")
                .arg(QString::fromUtf8(e.what()));
        }
    };
    options.onCall = [](const fis::RpcCallLog &log) {
        const QByteArray line =
            QStringLiteral("%1 %2 %3 %4 ms %5%6\n")
                .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs),
                     log.operatorName.isEmpty()
                         ? log.peer
                         : QStringLiteral("%1 (%2)").arg(log.peer, log.operatorName.left(60)),
                     log.method.isEmpty() ? QStringLiteral("-") : log.method)
                .arg(double(log.duration.count()) / 1000.0, 0, 'f', 3)
                .arg(QLatin1String(outcomeName(log.outcome)),
                     log.error.isEmpty() ? QString() : QStringLiteral(": ") + log.error.left(300))
                .toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    };
    fis::RpcServer server(options);
    fis::registerGuiaMethods(server, config);
    if (!server.start())
        return fail(server.errorString());
    std::printf("listening on %s:%d\n", qPrintable(host), server.port());
    std::fflush(stdout);
    std::fprintf(stderr, "fis-appserver: %s em %s:%d\n", qPrintable(config.describe()),
                 qPrintable(host), server.port());

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::fprintf(stderr, "fis-appserver: sinal %d, encerrando\n", signal);
    server.stop();
    return 0;
}
