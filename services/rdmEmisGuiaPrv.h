#pragma once
// The application-server object "Fis02900.rdmEmisGuiaPrv": its twelve remote methods as typed
// calls on a TNetConnection, and the declaration of each method (arity, kind and by-reference
// positions) that the client and the application server share.
//
// Every call answers the raw result variant of the connection (a data packet, an array, or a
// text that means an error); the caller checks it (Consiste::CheckResultServ) or loads it.
// By-reference arguments are the caller's variables: whatever the server writes into them comes
// back into them. A written-back value of the wrong kind is refused: the variable keeps its
// value and the call answers an error text saying which argument was wrong.
#include "data/variant.h"
#include "net/rpcserver.h"

#include <QString>

#include <array>
#include <span>

class TNetConnection;

namespace fis::rdmEmisGuiaPrv {

inline constexpr const char *kServerName = "Fis02900.rdmEmisGuiaPrv";

// One argument: its name, its kind (fis::ArgKind of the server framing; the null packet stands
// for "no packet") and whether the server writes it back.
struct ArgDecl
{
    const char *name;
    ArgKind kind;
    bool byRef;
};

struct MethodDecl
{
    const char *name;
    std::span<const ArgDecl> args;
};

// The arguments of GetEmisGuiaPrev, in call order. The listing calls send "S"/"E" as
// stOperacao, the emission "SF"/"EF". Members marked (var) are by reference: after the call
// they hold what the server wrote into them.
struct GetEmisGuiaPrevArgs
{
    QString stOperacao;        //  1 (var) operation: "S", "E", "SF", "EF"
    QString cdEmpresa;         //  2 company
    QString cdInscEsta;        //  3 state registration
    QString cdInscMuni;        //  4 municipal registration
    QString cdSerie;           //  5 invoice series
    QString nrNotaFiscal;      //  6 invoice number
    QString cdFilial;          //  7 branch
    QString cdImposto;         //  8 tax code
    QString inscForne;         //  9 supplier registration
    QString stStatus;          // 10 (var) guide status wanted: "P", "E", "T"
    TDateTime dtEmiIni;        // 11 period start
    TDateTime dtEmiFin;        // 12 period end
    TDateTime dtProcessamento; // 13 processing date of the login's branch
    QString stFilial;          // 14 (var) key list of branches
    QString stLancamento;      // 15 (var) key list of entry numbers
    QString idGerConPagGuia;   // 16 payable grouped by supplier ("S") or not
    QString nrLanctoNf;        // 17 (var) entry number of the current entry invoice; the
                               //    first entries emission sends stInscForne here
    QString cdFilialAtual;     // 18 branch of the current entry invoice
    double vrTotalGuia = 0.0;  // 19 (var) running value of the guide
    TDateTime dtVencimento;    // 20 (var) due date (current row, or dtVencGuia when emitting)
    DataPacket forneAux;       // 21 invoices selected in the entries view (null: none)
    QString filiProc;          // 22 the login's branch
    DataPacket integracao;     // 23 accounting-integration packet (null: none)
    QString nomeOperador;      // 24 operator's name
    QString stLanctoSel;       // 25 (var) entry number of the first selected invoice
    QString stFilialSel;       // 26 (var) branch of the first selected invoice
    QString reservado;         // 27 always empty
};

inline constexpr int kGetEmisGuiaPrevArity = 27;

// The declarations of the twelve methods, in the order of the server's interface.
std::span<const MethodDecl> methods();
// The declaration of one method, or nullptr when the server object has no such method.
const MethodDecl *findMethod(const QString &name);

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
