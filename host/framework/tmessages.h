#pragma once
// A screen's message catalogue: lines of "key|text". Each screen owns one and looks its texts up
// by key with Msg(). Its objectName starts as "msgPadrao", the name every screen gives it.
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class TMessages : public QObject
{
    Q_OBJECT

public:
    explicit TMessages(QObject *parent = nullptr);
    TMessages(const QStringList &lines, QObject *parent = nullptr);

    // Replaces the catalogue. Each line is a key, a bar and the text (the text may itself contain
    // bars). Blank lines are skipped; a line without a bar is a key with an empty text. Keys are
    // case-sensitive and blanks around the key are ignored; when a key repeats, the first line
    // counts.
    void setMessages(const QStringList &lines);
    // The same from one text, one entry per line.
    void setText(const QString &text);
    QStringList messages() const { return m_lines; }

    bool contains(const QString &key) const { return m_texts.contains(key.trimmed()); }

    // The text of the key. An unknown key never fails: the answer names the key, so that the
    // clerk sees which message is missing instead of an empty box.
    QString Msg(const QString &key) const;

private:
    QStringList m_lines;
    QHash<QString, QString> m_texts;
};
