#include "testkit/recordinghostui.h"

#include "data/datalink.h"
#include "data/dataset.h"
#include "data/packet.h"

namespace fis {

RecordingHostUi::~RecordingHostUi()
{
    uninstall();
}

void RecordingHostUi::install()
{
    if (m_installed)
        return;
    m_previous = HostUi::install(this);
    m_installed = true;
}

void RecordingHostUi::uninstall()
{
    if (!m_installed)
        return;
    if (HostUi::instance() == this)
        HostUi::install(m_previous);
    m_installed = false;
}

QStringList RecordingHostUi::takeFailures()
{
    QStringList out;
    out.swap(m_failures);
    return out;
}

void RecordingHostUi::clear()
{
    m_messages.clear();
    m_requests.clear();
    m_failures.clear();
}

QString RecordingHostUi::kindName(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information:
        return QStringLiteral("info");
    case MessageKind::Warning:
        return QStringLiteral("warning");
    case MessageKind::Error:
        return QStringLiteral("error");
    case MessageKind::Confirmation:
        return QStringLiteral("confirm");
    }
    return QString();
}

QString RecordingHostUi::Answer::describe() const
{
    switch (mode) {
    case Row:
        return QStringLiteral("row %1").arg(row);
    case Value:
        return QStringLiteral("%1 = %2").arg(field, value.toString());
    case Cancel:
        return QStringLiteral("cancel");
    case Same:
        return QStringLiteral("same");
    case Packet:
        return QStringLiteral("packet");
    case Edits:
        return QStringLiteral("edit %1 cell(s)").arg(edits.size());
    case Yes:
        return QStringLiteral("yes");
    case No:
        return QStringLiteral("no");
    }
    return QString();
}

void RecordingHostUi::queuePickRow(int recNo)
{
    Answer a;
    a.mode = Answer::Row;
    a.row = recNo;
    m_picks.push_back(a);
}

void RecordingHostUi::queuePickValue(const QString &field, const Variant &value)
{
    Answer a;
    a.mode = Answer::Value;
    a.field = field;
    a.value = value;
    m_picks.push_back(a);
}

void RecordingHostUi::queuePickCancel()
{
    m_picks.push_back(Answer{});
}

void RecordingHostUi::queueFindValue(const QString &field, const Variant &value)
{
    Answer a;
    a.mode = Answer::Value;
    a.field = field;
    a.value = value;
    m_finds.push_back(a);
}

void RecordingHostUi::queueFindCancel()
{
    m_finds.push_back(Answer{});
}

void RecordingHostUi::queueIntegrationSame()
{
    Answer a;
    a.mode = Answer::Same;
    m_integrations.push_back(a);
}

void RecordingHostUi::queueIntegrationCancel()
{
    m_integrations.push_back(Answer{});
}

void RecordingHostUi::queueIntegration(const DataPacket &packet)
{
    Answer a;
    a.mode = Answer::Packet;
    a.packet = packet;
    m_integrations.push_back(a);
}

void RecordingHostUi::queueIntegrationEdits(const QList<CellEdit> &edits)
{
    Answer a;
    a.mode = Answer::Edits;
    a.edits = edits;
    m_integrations.push_back(a);
}

void RecordingHostUi::queueConfirmation(bool yes)
{
    Answer a;
    a.mode = yes ? Answer::Yes : Answer::No;
    m_confirmations.push_back(a);
}

int RecordingHostUi::pendingAnswers() const
{
    return int(m_picks.size() + m_finds.size() + m_integrations.size() + m_confirmations.size());
}

QStringList RecordingHostUi::pendingDescriptions() const
{
    QStringList out;
    for (const Answer &a : m_picks)
        out << QStringLiteral("pick ") + a.describe();
    for (const Answer &a : m_finds)
        out << QStringLiteral("find ") + a.describe();
    for (const Answer &a : m_integrations)
        out << QStringLiteral("integration ") + a.describe();
    for (const Answer &a : m_confirmations)
        out << QStringLiteral("confirm ") + a.describe();
    return out;
}

void RecordingHostUi::clearAnswers()
{
    m_picks.clear();
    m_finds.clear();
    m_integrations.clear();
    m_confirmations.clear();
}

void RecordingHostUi::fail(const QString &text)
{
    m_failures << text;
    if (onFailure)
        onFailure(text);
}

bool RecordingHostUi::message(MessageKind kind, const QString &text, QWidget *)
{
    const Message m{kind, text};
    m_messages.append(m);
    if (onMessage)
        onMessage(m);
    if (kind != MessageKind::Confirmation)
        return true;
    Request req{RequestKind::Confirmation, text, false, {}};
    if (m_confirmations.empty()) {
        m_requests.append(req);
        fail(QStringLiteral("a confirmation was asked with no answer queued: \"%1\"").arg(text));
        return false;
    }
    const Answer a = m_confirmations.front();
    m_confirmations.pop_front();
    req.answered = true;
    m_requests.append(req);
    return a.mode == Answer::Yes;
}

bool RecordingHostUi::pick(DataLink *link, const QString &title, QWidget *)
{
    Request req{RequestKind::Pick, title, false, {}};
    if (m_picks.empty()) {
        m_requests.append(req);
        fail(QStringLiteral("the pick list \"%1\" opened with no answer queued").arg(title));
        return false;
    }
    const Answer a = m_picks.front();
    m_picks.pop_front();
    req.answered = true;
    m_requests.append(req);
    if (a.mode == Answer::Cancel)
        return false;
    ClientDataSet *set = link ? link->dataSet() : nullptr;
    if (!set || !set->active()) {
        fail(QStringLiteral("the pick list \"%1\" has no open record set to choose from")
                 .arg(title));
        return false;
    }
    if (a.mode == Answer::Row) {
        if (a.row < 1 || a.row > set->recordCount()) {
            fail(QStringLiteral("the pick list \"%1\" has %2 rows; row %3 cannot be chosen")
                     .arg(title)
                     .arg(set->recordCount())
                     .arg(a.row));
            return false;
        }
        set->setRecNo(a.row);
        return true;
    }
    if (!set->findField(a.field)) {
        fail(QStringLiteral("the pick list \"%1\" has no field %2").arg(title, a.field));
        return false;
    }
    if (!set->locate(a.field, a.value)) {
        fail(QStringLiteral("the pick list \"%1\" has no row with %2 = %3")
                 .arg(title, a.field, a.value.toString()));
        return false;
    }
    return true;
}

bool RecordingHostUi::find(ClientDataSet *dataSet, QWidget *)
{
    const QString name = dataSet ? dataSet->objectName() : QString();
    Request req{RequestKind::Find, name, false, {}};
    if (m_finds.empty()) {
        m_requests.append(req);
        fail(QStringLiteral("the find dialog over %1 opened with no answer queued").arg(name));
        return false;
    }
    const Answer a = m_finds.front();
    m_finds.pop_front();
    req.answered = true;
    m_requests.append(req);
    if (a.mode == Answer::Cancel)
        return false;
    if (!dataSet || !dataSet->active()) {
        fail(QStringLiteral("the find dialog has no open record set to search"));
        return false;
    }
    if (!dataSet->findField(a.field)) {
        fail(QStringLiteral("the find dialog over %1 has no field %2").arg(name, a.field));
        return false;
    }
    // The find dialog searches like the clerk types: any case, the start of the value.
    return dataSet->locate(a.field, a.value,
                           LocateOption::CaseInsensitive | LocateOption::PartialKey);
}

DataPacket RecordingHostUi::edited(const DataPacket &packet, const QList<CellEdit> &edits)
{
    ClientDataSet set;
    set.setData(packet);
    for (const CellEdit &e : edits) {
        Field *field = set.findField(e.field);
        if (!field || e.row < 1 || e.row > set.recordCount()) {
            fail(QStringLiteral("the accounting-integration window has no cell %1 %2 (%3 rows)")
                     .arg(e.row)
                     .arg(e.field)
                     .arg(set.recordCount()));
            return {};
        }
        set.setRecNo(e.row);
        set.edit();
        field->setValue(e.value);
        set.post();
    }
    return set.data();
}

DataPacket RecordingHostUi::integration(const DataPacket &packet, QWidget *)
{
    Request req{RequestKind::Integration, QString(), false, packet};
    if (m_integrations.empty()) {
        m_requests.append(req);
        fail(QStringLiteral("the accounting-integration window opened with no answer queued"));
        return {};
    }
    const Answer a = m_integrations.front();
    m_integrations.pop_front();
    req.answered = true;
    m_requests.append(req);
    switch (a.mode) {
    case Answer::Same:
        return packet;
    case Answer::Packet:
        return a.packet;
    case Answer::Edits:
        return edited(packet, a.edits);
    default:
        return {};
    }
}

} // namespace fis
