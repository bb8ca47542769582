// fis-screenshot FILE.png [--delay MILLISECONDS] [--crop X,Y,W,H]
// Saves what the X display in $DISPLAY shows (the whole screen, or a part of it) as a PNG file,
// from outside the program shown, so that it also catches a window whose program is busy.
// Exit status: 0 saved, 2 bad arguments, 1 no screen or the file could not be written.
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Salva a imagem da tela X em um arquivo PNG."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("arquivo"), QStringLiteral("Arquivo PNG."));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Espera antes da captura (ms)."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption crop(QStringLiteral("crop"), QStringLiteral("Parte da tela: x,y,l,a."),
                                  QStringLiteral("x,y,l,a"));
    parser.addOptions({delay, crop});
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fputs("uso: fis-screenshot ARQUIVO.png [--delay MS] [--crop X,Y,L,A]\n", stderr);
        return 2;
    }
    QRect part;
    if (parser.isSet(crop)) {
        const QStringList n = parser.value(crop).split(QLatin1Char(','));
        if (n.size() != 4) {
            std::fputs("fis-screenshot: --crop espera x,y,l,a\n", stderr);
            return 2;
        }
        part = QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
    }
    QThread::msleep(parser.value(delay).toULong());
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fputs("fis-screenshot: nenhuma tela\n", stderr);
        return 1;
    }
    QImage image = screen->grabWindow(0).toImage();
    if (part.isValid())
        image = image.copy(part);
    const QString file = parser.positionalArguments().constFirst();
    if (!image.save(file, "PNG")) {
        std::fprintf(stderr, "fis-screenshot: não foi possível gravar %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}
