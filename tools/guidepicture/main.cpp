// fis-guide-picture: draws the picture of the empty GPS form that the guide reports print their
// values over (guia_gps.bmp of the installation), from the same geometry the report engine uses.
//
//     fis-guide-picture FILE.bmp [--width PIXELS]
#include "framework/guideform.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Desenha a imagem do formulário vazio da GPS (guia_gps.bmp)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("arquivo"), QStringLiteral("a imagem a gravar"));
    const QCommandLineOption width(QStringLiteral("width"),
                                   QStringLiteral("largura em pixels (padrão 2244, 300 dpi)"),
                                   QStringLiteral("pixels"), QStringLiteral("2244"));
    parser.addOption(width);
    parser.process(app);
    QTextStream err(stderr);
    if (parser.positionalArguments().size() != 1) {
        err << "uso: fis-guide-picture ARQUIVO.bmp [--width PIXELS]\n";
        return 2;
    }
    bool ok = false;
    const int pixels = parser.value(width).toInt(&ok);
    if (!ok || pixels < 200 || pixels > 20000) {
        err << "largura inválida: " << parser.value(width) << " (use 200 a 20000)\n";
        return 2;
    }
    const QString file = parser.positionalArguments().first();
    if (!fis::gps::formPicture(pixels).save(file, "BMP")) {
        err << "não foi possível gravar " << file << "\n";
        return 1;
    }
    return 0;
}
