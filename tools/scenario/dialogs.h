#pragma once
// Driving modal dialogs in place. An action that opens a modal dialog does not return until the
// dialog closes, so the statements after it run inside the dialog's own event loop: the dialog's
// showing schedules the next statement there (onDialogShown), and a statement that finds the
// modal loop it was scheduled for gone must wait until the action that opened it has returned.
// A dialog named by "answer dialog NAME ACTION" gets its action injected as the next statement.
#include "script.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace fis::scenario {

class Recorder;

class DialogDriver : public QObject
{
public:
    explicit DialogDriver(Recorder &recorder, QObject *parent = nullptr);
    ~DialogDriver() override;

    void install(); // watches every window from now on

    // Called when a modal dialog shows while an action runs: schedule the next statement.
    std::function<void()> onDialogShown;

    // "answer dialog NAME ACTION": the action runs when that dialog shows.
    void queueAnswer(const QString &dialog, std::shared_ptr<Statement> action);
    // The next action injected by a dialog that showed, if any.
    bool takeInjected(Statement &st);

    // The running actions, each with the event-loop level it started at.
    void actionStarted();
    void actionEnded();
    bool actionRunning() const { return !m_actionLevels.isEmpty(); }
    // A statement scheduled for a modal loop that has ended while the action that opened it is
    // still finishing: it must wait for that action to return.
    bool loopEnded() const;
    // A modal dialog is being shown whose show handlers let events through (a progress window
    // over a call) before its loop starts.
    static bool dialogBeingShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Recorder &m_recorder;
    bool m_installed = false;
    QList<std::pair<QString, std::shared_ptr<Statement>>> m_answers;
    QList<Statement> m_injected;
    QList<int> m_actionLevels;
};

} // namespace fis::scenario
