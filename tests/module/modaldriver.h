#pragma once
// Drives a modal dialog from inside its own event loop: waits until the top-level widget with
// the object name is shown, then clicks one of its buttons. Gives up (rejecting the dialog)
// after a few seconds so that a broken dialog fails the test instead of hanging it.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace fis::test {

inline QWidget *findTopLevel(const QString &objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == objectName)
            return w;
    }
    return nullptr;
}

struct ModalClick
{
    bool clicked = false;
    bool gaveUp = false;
};

// Once the dialog shows, clicks its buttons one after the other (a refused confirm leaves it
// open for the next click). Gives up, rejecting the dialog, after 5 s.
inline std::shared_ptr<ModalClick> clickWhenShown(const QString &dialogName,
                                                  const QStringList &buttonNames)
{
    auto state = std::make_shared<ModalClick>();
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget *dialog = findTopLevel(dialogName);
        if (dialog && dialog->isVisible()) {
            QList<QAbstractButton *> buttons;
            for (const QString &name : buttonNames)
                if (auto *button = dialog->findChild<QAbstractButton *>(name))
                    buttons << button;
            if (buttons.size() == buttonNames.size()) {
                state->clicked = true;
                timer->deleteLater();
                for (QAbstractButton *button : buttons)
                    if (dialog->isVisible())
                        button->click();
                return;
            }
        }
        if (clock->elapsed() > 5000) {
            state->gaveUp = true;
            timer->deleteLater();
            if (auto *d = qobject_cast<QDialog *>(dialog))
                d->reject();
        }
    });
    timer->start(10);
    return state;
}

inline std::shared_ptr<ModalClick> clickWhenShown(const QString &dialogName,
                                                  const QString &buttonName)
{
    return clickWhenShown(dialogName, QStringList{buttonName});
}

} // namespace fis::test
