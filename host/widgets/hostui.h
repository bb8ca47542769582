#pragma once
// How the host talks to the clerk: every message box and every modal answer the screens need goes
// through the one HostUi installed. The default one shows real Qt windows; a test back-end records
// the messages and gives scripted answers instead.
#include "data/variant.h"

#include <QString>

class QWidget;

namespace fis {

class ClientDataSet;
class DataLink;

enum class MessageKind { Information, Warning, Error, Confirmation };

class HostUi
{
public:
    virtual ~HostUi() = default;

    // Shows one message. For Confirmation, returns true when the clerk answered yes.
    virtual bool message(MessageKind kind, const QString &text, QWidget *parent = nullptr) = 0;

    // Modal pick list over the data link's set; true when a row was picked, which is then current.
    virtual bool pick(DataLink *link, const QString &title, QWidget *parent = nullptr) = 0;

    // Find dialog over the set; true when a row was found, which is then current.
    virtual bool find(ClientDataSet *dataSet, QWidget *parent = nullptr) = 0;

    // Accounting-integration maintenance window: the edited packet, or a null packet when cancelled.
    virtual DataPacket integration(const DataPacket &packet, QWidget *parent = nullptr) = 0;

    // The one installed instance (never null once the host framework is initialised).
    static HostUi *instance();
    // Installs ui (not owned) and returns the previous one; nullptr restores the default.
    static HostUi *install(HostUi *ui);
};

} // namespace fis
