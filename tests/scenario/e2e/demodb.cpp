// fis-e2e-demodb FILE --today YYYY-MM-DD [--invoices N]
//
// Creates a SQLite database with the application server's schema and its demo data, dated as if
// today were the given day: the demo invoices run back from the current month, so an end-to-end
// script that names its period needs the same data whatever the calendar says. The server is then
// started over the file as usual (its schema step finds everything in place and its demo step
// finds the companies already there).
#include "database.h"
#include "demodata.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlQuery>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "fis-e2e-demodb: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Creates a demo database of the application server for a fixed day."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The SQLite file."));
    const QCommandLineOption todayOpt(QStringLiteral("today"),
                                      QStringLiteral("The day the data is made on (YYYY-MM-DD)."),
                                      QStringLiteral("date"));
    const QCommandLineOption invoicesOpt(QStringLiteral("invoices"),
                                         QStringLiteral("Number of demo invoices (default 600)."),
                                         QStringLiteral("N"), QStringLiteral("600"));
    parser.addOptions({todayOpt, invoicesOpt});
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return fail(QStringLiteral("name one database file"));
    // A fresh database only: demo data over someone's data would mix the two.
    if (QFileInfo::exists(files.first()))
        return fail(QStringLiteral("%1 already exists").arg(files.first()));
    const QDate today = QDate::fromString(parser.value(todayOpt), Qt::ISODate);
    if (!today.isValid())
        return fail(QStringLiteral("--today must be a date YYYY-MM-DD, not '%1'")
                        .arg(parser.value(todayOpt)));
    bool ok = false;
    const int invoices = parser.value(invoicesOpt).toInt(&ok);
    if (!ok || invoices < 1)
        return fail(QStringLiteral("--invoices must be a number >= 1"));

    fis::DbConfig config;
    QString error;
    if (!fis::DbConfig::parse(files.first(), &config, &error))
        return fail(error);
    if (config.kind != fis::DbKind::Sqlite)
        return fail(QStringLiteral("only a SQLite file is made here"));
    const QString connection = QStringLiteral("fis-e2e-demodb");
    int code = 0;
    {
        QSqlDatabase db = fis::openConnection(config, connection, &error);
        if (!db.isOpen()) {
            code = fail(error);
        } else {
            fis::DemoOptions options;
            options.invoices = invoices;
            options.today = today;
            if (!fis::applySchema(db, config.kind, &error))
                code = fail(QStringLiteral("schema: %1").arg(error));
            else if (!fis::generateDemoData(db, config.kind, options, &error))
                code = fail(QStringLiteral("demo data: %1").arg(error));
            else
                QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return code;
}
