// fis-host: the host application. Reads the login values, opens the host database and loads
// the screen module when a screen is opened.
#include "app/hostsettings.h"
#include "app/mainwindow.h"

#include "framework/defaulthostui.h"
#include "framework/hostdatabase.h"
#include "framework/quorvin.h"
#include "framework/translations.h"

#include <QApplication>
#include <QLocale>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

bool hasArgument(int argc, char **argv, const char *longName, const char *shortName)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], longName) == 0 || std::strcmp(argv[i], shortName) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    // Help and version need no window system (they work on a machine without a display).
    if (hasArgument(argc, argv, "--help", "-h") || hasArgument(argc, argv, "--version", "-v")) {
        QCoreApplication core(argc, argv);
        fis::installToolkitTranslations();
        QCoreApplication::setApplicationName(QStringLiteral("fis-host"));
        QCoreApplication::setApplicationVersion(QStringLiteral("6.10.040"));
        if (hasArgument(argc, argv, "--help", "-h"))
            std::fputs(qPrintable(fis::hostOptionsHelp()), stdout);
        else
            std::printf("fis-host %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fis-host"));
    QApplication::setApplicationVersion(QStringLiteral("6.10.040"));
    QApplication::setOrganizationName(QStringLiteral("fis"));
    // The program works in the Brazilian locale whatever the machine's, the toolkit's own
    // windows included.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    if (!fis::installToolkitTranslations())
        std::fprintf(stderr, "fis-host: traduções do Qt (qtbase_pt_BR) não encontradas; os "
                             "diálogos do Qt ficam em inglês.\n");

    const QStringList args = QApplication::arguments();

    fis::HostSettings settings;
    QString error;
    if (!fis::parseHostSettings(args, fis::defaultHostPaths(), &settings, &error)) {
        std::fprintf(stderr, "fis-host: %s\n", qPrintable(error));
        std::fprintf(stderr, "Use --help para ver as opções.\n");
        return 2;
    }
    Quorvin::setLogin(settings.login);
    fis::DefaultHostUi::installAsDefault();

    try {
        fis::HostDatabase::open(settings.database);
    } catch (const std::exception &e) {
        // The screens still open; their lookups report the missing database when used.
        std::fprintf(stderr, "fis-host: banco de dados %s indisponível: %s\n",
                     qPrintable(settings.database), e.what());
    }

    fis::MainWindow window(settings);
    // Without a window manager (./run's virtual display) nothing maximises the window: it takes
    // the screen's free area itself first.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->availableGeometry());
    window.showMaximized();
    if (!settings.openScreen.isEmpty()) {
        QTimer::singleShot(0, &window,
                           [&window, &settings] { window.openScreen(settings.openScreen); });
    }
    return QApplication::exec();
}
