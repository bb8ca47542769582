// fis-appserver: the application server of the GPS emission screen.
//
//   fis-appserver --listen 127.0.0.1:PORT --database URL [--demo-data N] [--token T]
//
// URL is a SQLite file (created with its schema on first start) or
// postgresql://user@host:port/db. Port 0 picks a free port; the chosen one is printed as
// "listening on 127.0.0.1:<port>". One log line per call goes to stderr. SIGTERM and SIGINT
// stop the server cleanly.
#include "database.h"
#include "demodata.h"
#include "rpcbinding.h"

#include "net/rpcserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <csignal>
#include <cstdio>
#include <pthread.h>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
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
    const QCommandLineOption tokenOpt(QStringLiteral("token"),
                                      QStringLiteral("Ficha exigida dos clientes."),
                                      QStringLiteral("ficha"));
    const QCommandLineOption threadsOpt(QStringLiteral("threads"),
                                        QStringLiteral("Linhas de execução (padrão 32)."),
                                        QStringLiteral("N"), QStringLiteral("32"));
    parser.addOptions({listenOpt, dbOpt, demoOpt, tokenOpt, threadsOpt});
    parser.process(app);

    const QString listen = parser.value(listenOpt);
    const int colon = int(listen.lastIndexOf(u':'));
    bool portOk = false;
    const int port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : -1;
    const QString host = colon > 0 ? listen.left(colon) : QString();
    if (!portOk || port < 0 || port > 65535 || host.isEmpty())
        return fail(QStringLiteral("endereço inválido em --listen: %1").arg(listen));
    const bool loopback = host.startsWith(QLatin1String("127.")) ||
                          host == QLatin1String("localhost") || host == QLatin1String("::1");
    const QString token = parser.value(tokenOpt);
    if (!loopback && token.isEmpty())
        return fail(QStringLiteral("escutar em %1 exige --token").arg(host));
    bool demoOk = false;
    const int demo = parser.value(demoOpt).toInt(&demoOk);
    if (!demoOk || demo < 0)
        return fail(QStringLiteral("--demo-data deve ser um número >= 0"));

    fis::DbConfig config;
    QString error;
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
    options.token = token.toUtf8();
    // The largest honest request is a selection packet of a few thousand invoices.
    options.maxBodyBytes = 16 * 1024 * 1024;
    options.threads = qBound(2, parser.value(threadsOpt).toInt(), 256);
    options.onThreadStop = [](int) { fis::closeThreadConnection(); };
    options.onCall = [](const fis::RpcCallLog &log) {
        const QByteArray line =
            QStringLiteral("%1 %2 %3 %4 ms %5%6\n")
                .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs), log.peer,
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
