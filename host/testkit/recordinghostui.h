#pragma once
// A HostUi for tests and scripts: messages are recorded (kind, text) instead of shown, and every
// modal window is answered from a queue the test fills beforehand. A modal window asked for with
// no answer queued (or with an answer that does not fit) is a failure: it is recorded, reported
// to onFailure, and the window answers "cancelled" so that the program goes on.
#include "widgets/hostui.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace fis {

class RecordingHostUi : public HostUi
{
public:
    struct Message
    {
        MessageKind kind = MessageKind::Information;
        QString text;
    };

    enum class RequestKind { Pick, Find, Integration, Confirmation };
    // One modal window that was asked for.
    struct Request
    {
        RequestKind kind = RequestKind::Pick;
        QString title; // pick list title, or the confirmation's text
        bool answered = false;
        DataPacket packet; // what the accounting-integration window was given
    };

    // A cell the clerk corrects in the accounting-integration window (row 1-based).
    struct CellEdit
    {
        int row = 0;
        QString field;
        Variant value;
    };

    RecordingHostUi() = default;
    ~RecordingHostUi() override; // uninstalls itself when still installed

    // Installs this instance as the host's HostUi (remembers the previous one); uninstall()
    // puts the previous one back.
    void install();
    void uninstall();

    // --- Recorded ---
    const QList<Message> &messages() const { return m_messages; }
    const QList<Request> &requests() const { return m_requests; }
    QStringList failures() const { return m_failures; }
    QStringList takeFailures();
    void clear(); // messages, requests and failures (queued answers stay)

    // --- Answers, each used by one modal window, in order of its kind ---
    void queuePickRow(int recNo);                                    // 1-based row of the list
    void queuePickValue(const QString &field, const Variant &value); // the first row that has it
    void queuePickCancel();
    void queueFindValue(const QString &field, const Variant &value); // case-insensitive, partial
    void queueFindCancel();
    void queueIntegrationSame();   // the packet comes back unchanged
    void queueIntegrationCancel(); // null packet
    void queueIntegration(const DataPacket &packet);
    // The clerk corrects these cells of the packet the window shows, then confirms. A row or
    // field the packet does not have is a failure (the window answers "cancelled").
    void queueIntegrationEdits(const QList<CellEdit> &edits);
    void queueConfirmation(bool yes);
    int pendingAnswers() const;
    QStringList pendingDescriptions() const;
    void clearAnswers();

    // Called for every message as it is recorded, and for every failure.
    std::function<void(const Message &)> onMessage;
    std::function<void(const QString &)> onFailure;

    // HostUi
    bool message(MessageKind kind, const QString &text, QWidget *parent = nullptr) override;
    bool pick(DataLink *link, const QString &title, QWidget *parent = nullptr) override;
    bool find(ClientDataSet *dataSet, QWidget *parent = nullptr) override;
    DataPacket integration(const DataPacket &packet, QWidget *parent = nullptr) override;

    static QString kindName(MessageKind kind); // "info", "warning", "error", "confirm"

private:
    struct Answer
    {
        enum Mode { Row, Value, Cancel, Same, Packet, Edits, Yes, No } mode = Cancel;
        int row = 0;
        QString field;
        Variant value;
        DataPacket packet;
        QList<CellEdit> edits;
        QString describe() const;
    };

    void fail(const QString &text);
    DataPacket edited(const DataPacket &packet, const QList<CellEdit> &edits);

    QList<Message> m_messages;
    QList<Request> m_requests;
    QStringList m_failures;
    std::deque<Answer> m_picks, m_finds, m_integrations, m_confirmations;
    HostUi *m_previous = nullptr;
    bool m_installed = false;
};

} // namespace fis
