#pragma once
// A HostUi that records messages instead of showing them (a real message box would block the
// test), answering "no" to every question and choosing nothing in every modal window.
#include "widgets/hostui.h"

#include <QStringList>

namespace fis::test {

class QuietUi : public HostUi
{
public:
    QStringList messages;
    bool message(MessageKind, const QString &text, QWidget *) override
    {
        messages.append(text);
        return false;
    }
    bool pick(DataLink *, const QString &, QWidget *) override { return false; }
    bool find(ClientDataSet *, QWidget *) override { return false; }
    DataPacket integration(const DataPacket &, QWidget *) override { return {}; }
};

} // namespace fis::test
