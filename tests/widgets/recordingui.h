#pragma once
// A HostUi that records messages instead of showing them, installed for the life of the object.
#include "widgets/hostui.h"

#include <QList>
#include <QPair>

namespace fis::test {

class RecordingUi : public HostUi
{
public:
    RecordingUi() { previous_ = HostUi::install(this); }
    ~RecordingUi() override { HostUi::install(previous_); }

    bool message(MessageKind kind, const QString &text, QWidget * = nullptr) override
    {
        messages.append({kind, text});
        return confirmAnswer;
    }
    bool pick(DataLink *, const QString &, QWidget * = nullptr) override { return false; }
    bool find(ClientDataSet *, QWidget * = nullptr) override { return false; }
    DataPacket integration(const DataPacket &, QWidget * = nullptr) override { return {}; }

    QList<QPair<MessageKind, QString>> messages;
    bool confirmAnswer = true;

private:
    HostUi *previous_ = nullptr;
};

} // namespace fis::test
