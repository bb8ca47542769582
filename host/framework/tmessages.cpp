#include "framework/tmessages.h"

TMessages::TMessages(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("msgPadrao"));
}

TMessages::TMessages(const QStringList &lines, QObject *parent) : TMessages(parent)
{
    setMessages(lines);
}

void TMessages::setMessages(const QStringList &lines)
{
    m_lines = lines;
    m_texts.clear();
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype bar = line.indexOf(QLatin1Char('|'));
        const QString key = (bar < 0 ? line : line.left(bar)).trimmed();
        const QString text = bar < 0 ? QString() : line.mid(bar + 1);
        if (!m_texts.contains(key))
            m_texts.insert(key, text);
    }
}

void TMessages::setText(const QString &text)
{
    QString normalized = text;
    normalized.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setMessages(normalized.split(QLatin1Char('\n')));
}

QString TMessages::Msg(const QString &key) const
{
    const auto it = m_texts.constFind(key.trimmed());
    if (it != m_texts.constEnd())
        return *it;
    return QStringLiteral("Mensagem '%1' não encontrada no catálogo.").arg(key);
}
