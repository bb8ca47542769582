#pragma once
// A HostUi that records what the screens show and answers the modal windows from a script,
// installed for the life of the object.
#include "data/datalink.h"
#include "data/dataset.h"
#include "widgets/hostui.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

namespace fis::test {

class ScriptedUi : public HostUi
{
public:
    ScriptedUi() { previous_ = HostUi::install(this); }
    ~ScriptedUi() override { HostUi::install(previous_); }

    bool message(MessageKind kind, const QString &text, QWidget * = nullptr) override
    {
        messages.append({kind, text});
        return true;
    }
    // Picks the row whose field pickField holds pickValue; no such row (or no script) = cancel.
    bool pick(DataLink *link, const QString &title, QWidget * = nullptr) override
    {
        pickTitles << title;
        if (pickField.isEmpty() || !link || !link->dataSet())
            return false;
        return link->dataSet()->locate(pickField, pickValue);
    }
    bool find(ClientDataSet *, QWidget * = nullptr) override { return false; }
    DataPacket integration(const DataPacket &packet, QWidget * = nullptr) override
    {
        integrationPackets << packet;
        return integrationAnswer ? integrationAnswer(packet) : DataPacket{};
    }

    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto &m : messages)
            out << m.second;
        return out;
    }

    QList<QPair<MessageKind, QString>> messages;
    QStringList pickTitles;
    QString pickField;
    Variant pickValue;
    QList<DataPacket> integrationPackets;
    std::function<DataPacket(const DataPacket &)> integrationAnswer;

private:
    HostUi *previous_ = nullptr;
};

} // namespace fis::test
