#pragma once
// The host contract of the screens: the one header they include to reach the host framework
// (base screens, validation helpers, message catalogues, login values, progress window,
// lookups, the accounting-integration window, the error guard) and the application server.
#include "data/abort.h"
#include "data/variant.h"
#include "framework/consiste.h"
#include "framework/frmdadosgerrel.h"
#include "framework/frmfiltropadrao.h"
#include "framework/hostdatabase.h"
#include "framework/lookup.h"
#include "framework/manutencao.h"
#include "framework/quorvin.h"
#include "framework/reportparams.h"
#include "framework/showavi.h"
#include "framework/tmessages.h"
#include "net/netconnection.h"
#include "services/rdmEmisGuiaPrv.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"
