// Driving modal dialogs in place (see dialogs.h).
#include "dialogs.h"

#include "finder.h"
#include "recorder.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QThread>

#include <algorithm>

namespace fis::scenario {

DialogDriver::DialogDriver(Recorder &recorder, QObject *parent)
    : QObject(parent), m_recorder(recorder)
{}

DialogDriver::~DialogDriver()
{
    if (m_installed)
        qApp->removeEventFilter(this);
}

void DialogDriver::install()
{
    qApp->installEventFilter(this);
    m_installed = true;
}

void DialogDriver::queueAnswer(const QString &dialog, std::shared_ptr<Statement> action)
{
    m_answers.append({dialog, std::move(action)});
}

bool DialogDriver::takeInjected(Statement &st)
{
    if (m_injected.isEmpty())
        return false;
    st = m_injected.takeFirst();
    return true;
}

void DialogDriver::actionStarted()
{
    m_actionLevels.append(QThread::currentThread()->loopLevel());
}

void DialogDriver::actionEnded()
{
    m_actionLevels.removeLast();
}

bool DialogDriver::loopEnded() const
{
    return !m_actionLevels.isEmpty() &&
           QThread::currentThread()->loopLevel() <= m_actionLevels.last();
}

bool DialogDriver::dialogBeingShown()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget *w) {
        return qobject_cast<const QDialog *>(w) && w->isVisible() &&
               w->testAttribute(Qt::WA_ShowModal);
    });
}

bool DialogDriver::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *w = static_cast<QWidget *>(watched);
        if (w->isWindow() && qobject_cast<QDialog *>(w) && w->isModal()) {
            m_recorder.dialogOpened(describeWidget(w));
            for (int i = 0; i < m_answers.size(); ++i) {
                if (m_answers[i].first == w->objectName()) {
                    m_injected.append(*m_answers[i].second);
                    m_answers.removeAt(i);
                    break;
                }
            }
            // The action that opened it waits in the dialog's event loop: go on with the script
            // there.
            if (actionRunning() && onDialogShown)
                onDialogShown();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace fis::scenario
