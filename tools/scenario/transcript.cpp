// The transcript of the actions and their consequences (see transcript.h).
#include "transcript.h"

#include "script.h"

#include <QTextStream>

#include <algorithm>

namespace fis::scenario {

int Transcript::beginAction(const Statement &st, const Checkpoint &at)
{
    m_actions.append(at);
    const QString entry = QStringLiteral("  %1:%2  %3").arg(st.file).arg(st.line).arg(st.source);
    m_entries.append(entry);
    m_out << entry << Qt::endl;
    return int(m_entries.size()) - 1;
}

void Transcript::note(const QString &line)
{
    if (m_entry < 0 || m_entry >= m_entries.size()) {
        m_out << line << Qt::endl;
        return;
    }
    m_entries[m_entry] += QLatin1Char('\n') + line;
    // An action that ends after others ran inside its dialog: say whose consequence this is.
    if (m_entry + 1 < m_entries.size())
        m_out << line << "  (" << m_entries[m_entry].section(QLatin1Char('\n'), 0, 0).trimmed()
              << ")" << Qt::endl;
    else
        m_out << line << Qt::endl;
}

const Checkpoint &Transcript::lastAction() const
{
    static const Checkpoint none;
    return m_lastFinished < 0 ? none : m_actions[m_lastFinished];
}

const Checkpoint *Transcript::actionAt(int line) const
{
    for (int i = int(m_actions.size()) - 1; i >= 0; --i)
        if (m_actions[i].line == line)
            return &m_actions[i];
    return nullptr;
}

QStringList Transcript::tail(int n) const
{
    const int count = std::min<int>(n, int(m_entries.size()));
    return m_entries.mid(m_entries.size() - count);
}

} // namespace fis::scenario
