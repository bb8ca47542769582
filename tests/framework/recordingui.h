#pragma once
// A HostUi that records messages instead of showing them, installed for the life of the object.
#include "widgets/hostui.h"

#include <QList>
#include <QString>

namespace fis::test {

class RecordingUi : public HostUi
{
public:
    struct Message
    {
        MessageKind kind;
        QString text;
    };

    RecordingUi() { m_previous = HostUi::install(this); }
    ~RecordingUi() override { HostUi::install(m_previous); }

    bool message(MessageKind kind, const QString &text, QWidget *) override
    {
        messages.append({kind, text});
        return confirmAnswer;
    }
    bool pick(DataLink *, const QString &, QWidget *) override { return false; }
    bool find(ClientDataSet *, QWidget *) override { return false; }
    DataPacket integration(const DataPacket &, QWidget *) override { return {}; }

    QList<Message> messages;
    bool confirmAnswer = false;

private:
    HostUi *m_previous = nullptr;
};

} // namespace fis::test
