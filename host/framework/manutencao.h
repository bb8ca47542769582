#pragma once
// The accounting-integration maintenance window: shows an integration packet in an editable grid
// and gives back the edited packet (OK) or a null packet (Cancelar). Values can be corrected;
// rows can be neither added nor removed.
#include "data/variant.h"

class QWidget;

namespace fis {
// The real window. A null packet in gives a null packet back without showing anything. A packet
// that does not decode raises fis::PacketError (nothing is shown, nothing is lost: the caller
// still holds its packet).
DataPacket showIntegrationDialog(const DataPacket &packet, QWidget *parent = nullptr);
} // namespace fis

// The window while it is shown, nullptr otherwise (the window frees itself when it closes).
extern QWidget *frmManutIntegra;

// Through fis::HostUi::integration: the edited packet, or a null packet when cancelled.
fis::DataPacket CriaManutencao(const fis::DataPacket &packet, QWidget *parent = nullptr);
