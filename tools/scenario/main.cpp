// fis-scenario SCRIPT [--server HOST:PORT] [--database FILE] [--module FILE] [--timeout SECONDS]
//
// Runs a scenario script against the real module under the offscreen platform (unless
// QT_QPA_PLATFORM says otherwise), printing a transcript of every action. Exit code: 0 when every
// expectation held, 1 at the first failure, 2 for a script that cannot be read or a set-up that
// cannot be made, 3 when the run took longer than the timeout.
#include "framework/translations.h"
#include "runner.h"
#include "script.h"
#include "watchdog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fis-scenario"));
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    fis::installToolkitTranslations(); // the toolkit's dialogs as the clerk sees them

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs a scenario script against the GPS screen module."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("script"), QStringLiteral("The script (.fis)."));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("A real application server to use."),
                                    QStringLiteral("host:port"));
    const QCommandLineOption module(
        QStringLiteral("module"), QStringLiteral("The module file (default: beside this program)."),
        QStringLiteral("file"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"), QStringLiteral("Give up after this many seconds (default 120)."),
        QStringLiteral("seconds"), QStringLiteral("120"));
    const QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("The host database is a copy of this SQLite file (instead of the "
                       "script's database statement)."),
        QStringLiteral("file"));
    parser.addOption(server);
    parser.addOption(database);
    parser.addOption(module);
    parser.addOption(timeout);
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 1) {
        err << "usage: fis-scenario SCRIPT [--server HOST:PORT] [--database FILE] [--module FILE] "
               "[--timeout S]"
            << Qt::endl;
        return 2;
    }

    fis::scenario::Script script;
    try {
        script = fis::scenario::parseFile(args.first());
    } catch (const fis::scenario::ScriptError &e) {
        err << "fis-scenario: " << e.describe() << Qt::endl;
        return 2;
    }

    bool ok = false;
    const int seconds = parser.value(timeout).toInt(&ok);
    if (ok && seconds > 0)
        fis::scenario::startWatchdog(seconds, args.first());

    fis::scenario::RunOptions options;
    options.server = parser.value(server);
    options.modulePath = parser.value(module);
    options.database = parser.value(database);
    int code = 0;
    {
        fis::scenario::Runner runner(std::move(script), options, out, err);
        code = runner.run();
    }
    out.flush();
    err.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    // The module's windows belong to the module; leave without tearing them down from here.
    std::_Exit(code);
}
