// fis-invariants: checks the emitted guides of an application server database.
//
//   fis-invariants --database URL [--told FILE]
//
// URL as for fis-appserver (a SQLite file or postgresql://user@host:port/db). FILE lists the
// invoices clients were told were emitted, one "branch;entry" per line. Prints what was checked
// and every violation; exit status 0 when there is none, 1 when there are, 2 when the check
// could not run.
#include "database.h"
#include "invariants.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fis-invariants"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Verifica as invariantes das guias emitidas num banco do servidor de "
                       "aplicação."));
    parser.addHelpOption();
    const QCommandLineOption dbOpt(
        QStringLiteral("database"),
        QStringLiteral("Arquivo SQLite ou postgresql://usuario@host:porta/banco."),
        QStringLiteral("url"));
    const QCommandLineOption toldOpt(
        QStringLiteral("told"),
        QStringLiteral("Notas que os clientes souberam emitidas (\"filial;lançamento\" por "
                       "linha)."),
        QStringLiteral("arquivo"));
    parser.addOptions({dbOpt, toldOpt});
    parser.process(app);

    QString error;
    fis::DbConfig config;
    if (!parser.isSet(dbOpt) || !fis::DbConfig::parse(parser.value(dbOpt), &config, &error)) {
        std::fprintf(stderr, "fis-invariants: %s\n",
                     qPrintable(error.isEmpty() ? QStringLiteral("informe --database") : error));
        return 2;
    }
    // A missing SQLite file would be created empty and pass: refuse it.
    if (config.kind == fis::DbKind::Sqlite && !QFile::exists(config.path)) {
        std::fprintf(stderr, "fis-invariants: %s não existe\n", qPrintable(config.path));
        return 2;
    }
    QList<fis::InvoiceKey> told;
    if (parser.isSet(toldOpt) && !fis::readToldFile(parser.value(toldOpt), &told, &error)) {
        std::fprintf(stderr, "fis-invariants: %s\n", qPrintable(error));
        return 2;
    }
    QSqlDatabase db = fis::openConnection(config, QStringLiteral("fis-invariants"), &error);
    if (!db.isOpen()) {
        std::fprintf(stderr, "fis-invariants: %s\n", qPrintable(error));
        return 2;
    }
    const fis::InvariantReport r = fis::checkInvariants(db, told);
    std::printf("%s: %lld guias, %lld contas a pagar, %lld lançamentos, %lld registros de "
                "auditoria de emissão, %lld notas confirmadas a clientes\n",
                qPrintable(config.describe()), r.guides, r.payables, r.postings, r.auditRows,
                r.told);
    for (const QString &v : r.violations)
        std::printf("VIOLAÇÃO %s\n", qPrintable(v));
    std::printf(
        "%s\n",
        r.ok()
            ? "invariantes: ok"
            : qPrintable(QStringLiteral("invariantes: %1 violação(ões)").arg(r.violations.size())));
    return r.ok() ? 0 : 1;
}
