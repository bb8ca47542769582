// The toolkit's own texts reach the clerk in Portuguese: the command line's help and the file
// dialog of "Salvar Como" (the page set-up of the PDF output is the host's own, in
// tests/framework_screens).
#include "framework/translations.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Every text a window shows in its labels, buttons and group boxes.
QStringList textsOf(const QWidget *window)
{
    QStringList texts;
    for (const QLabel *label : window->findChildren<QLabel *>())
        texts << label->text();
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>())
        texts << button->text();
    for (const QGroupBox *box : window->findChildren<QGroupBox *>())
        texts << box->title();
    texts.removeAll(QString());
    return texts;
}

// The English words a clerk met in those windows.
QStringList englishIn(const QStringList &texts)
{
    static const QStringList english{"Look in",   "File name", "Files of type", "Save",
                                     "Cancel",    "Paper",     "Orientation",   "Portrait",
                                     "Landscape", "Margins",   "Page size",     "Width",
                                     "Height",    "Usage",     "Options"};
    QStringList found;
    for (const QString &text : texts) {
        const QString plain = QString(text).remove(QLatin1Char('&')).remove(QLatin1Char(':'));
        for (const QString &word : english)
            if (plain == word || plain.startsWith(word + QLatin1Char(' ')))
                found << text;
    }
    return found;
}

} // namespace

TEST(ToolkitTexts, HelpAndFileDialogSpeakPortuguese)
{
    QProcess help;
    help.start(QStringLiteral(FIS_HOST_PROGRAM), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(30000));
    const QString usage = QString::fromUtf8(help.readAllStandardOutput());
    EXPECT_TRUE(usage.startsWith(QStringLiteral("Uso:"))) << qPrintable(usage.left(200));
    EXPECT_TRUE(usage.contains(QStringLiteral("Opções:")));
    EXPECT_FALSE(usage.contains(QStringLiteral("Displays"))) << qPrintable(usage);

    ASSERT_TRUE(fis::installToolkitTranslations()) << "qt6-translations-l10n is not installed";

    QFileDialog files(nullptr, QStringLiteral("Salvar Como"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.show();
    EXPECT_EQ(englishIn(textsOf(&files)), QStringList()) << qPrintable(textsOf(&files).join(" | "));
    files.hide();
}
