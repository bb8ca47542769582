#pragma once
// The transcript of a run: every action as it starts ("  file:line  statement"), then the lines
// that tell what it caused, kept per action for the tail a failure prints. Each action also keeps
// the checkpoint of the records when it began, for "since the last action" and "since line N".
#include "recorder.h"

#include <QList>
#include <QStringList>

class QTextStream;

namespace fis::scenario {

struct Statement;

class Transcript
{
public:
    explicit Transcript(QTextStream &out) : m_out(out) {}

    // An action starts: its line is printed and kept. Returns its index, which is also the
    // entry its consequences are told under.
    int beginAction(const Statement &st, const Checkpoint &at);
    // The action has ended: "since the last action" now means since this one.
    void endAction(int index) { m_lastFinished = index; }

    // The entry later lines are told under (-1: printed on their own).
    int entry() const { return m_entry; }
    void setEntry(int entry) { m_entry = entry; }
    // Prints a line under the current entry.
    void note(const QString &line);

    const Checkpoint &action(int index) const { return m_actions[index]; }
    // The action that ended last: after a dialog closed, that is the action that opened it.
    const Checkpoint &lastAction() const;
    // The latest action that ran at this line of the script, or null.
    const Checkpoint *actionAt(int line) const;

    // The last n entries, for a failure.
    QStringList tail(int n) const;

private:
    QTextStream &m_out;
    QStringList m_entries;       // each possibly several lines
    QList<Checkpoint> m_actions; // one per action, in order
    int m_lastFinished = -1;
    int m_entry = -1;
};

} // namespace fis::scenario
