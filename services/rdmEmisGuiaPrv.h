#pragma once
// The application-server object "Fis02900.rdmEmisGuiaPrv": its twelve remote methods as typed
// calls on a TNetConnection. The arguments of each method, and the declarations the client and
// the application server share, are in rdmEmisGuiaPrvDecl.h.
//
// Every call answers the raw result variant of the connection (a data packet, an array, or a
// text that means an error); the caller checks it (Consiste::CheckResultServ) or loads it.
// By-reference arguments are the caller's variables: whatever the server writes into them comes
// back into them. A written-back value of the wrong kind is refused: the variable keeps its
// value and the call answers an error text saying which argument was wrong.
#include "services/rdmEmisGuiaPrvDecl.h"

class TNetConnection;

namespace fis::rdmEmisGuiaPrv {

// ---- the calls --------------------------------------------------------------------------------

Variant GetParamFiscal(TNetConnection &net);
Variant GetEmisGuiaPrev(TNetConnection &net, GetEmisGuiaPrevArgs &args);
Variant GetFunRural(TNetConnection &net, const QString &cdImposto, const QString &cdEmpresa,
                    const QString &cdInscEsta, TDateTime dtEmiIni, TDateTime dtEmiFin,
                    QString &stStatus);
Variant GeraFunRural(TNetConnection &net, QString &stNrMapa);
Variant GetVdContaPagar(TNetConnection &net, const DataPacket &forneAux);
Variant GetVdBeneficiario(TNetConnection &net, QString &cdImposto);
Variant SetDtVenc(TNetConnection &net, const QString &cdFilial, const QString &nrLanctoNf,
                  const QString &vencimento, const QString &cdReceGuia, double vrOutrEntGuia,
                  double vrMultaGuia);
Variant GetCodRecePad(TNetConnection &net, const QString &cdImposto);
Variant GetVdCodRece(TNetConnection &net, const QString &cdImposto, const QString &cdReceGuia);
Variant GetImpostoNfe(TNetConnection &net, const QString &cdImposto);
Variant GetParamFilial(TNetConnection &net, const QString &cdFilial);
Variant GetMapa(TNetConnection &net, TDateTime dtEmiIni, const QString &cdEmpresa,
                const QString &cdImposto, const QString &cdInscEsta, const QString &idTipo);

} // namespace fis::rdmEmisGuiaPrv
