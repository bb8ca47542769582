#include "widgets/errorguard.h"

#include "data/abort.h"
#include "widgets/hostui.h"

#include <QApplication>
#include <QDebug>
#include <exception>

namespace fis {

QString currentExceptionText()
{
    try {
        throw;
    } catch (const std::exception &e) {
        const QString what = QString::fromUtf8(e.what());
        return what.isEmpty() ? QStringLiteral("Erro inesperado.") : what;
    } catch (const QString &text) {
        return text;
    } catch (...) {
        return QStringLiteral("Erro inesperado.");
    }
}

namespace {

void report(const QString &text)
{
    // Showing the message must not throw either: a failing message box would otherwise escape.
    try {
        if (HostUi *ui = HostUi::instance())
            ui->message(MessageKind::Error, text, QApplication::activeWindow());
        else
            qWarning().noquote() << text;
    } catch (...) {
        qWarning().noquote() << text;
    }
}

} // namespace

bool guarded(const std::function<void()> &action)
{
    if (!action)
        return true;
    try {
        action();
        return true;
    } catch (const EAbort &) {
        return false;
    } catch (...) {
        report(currentExceptionText());
        return false;
    }
}

} // namespace fis
