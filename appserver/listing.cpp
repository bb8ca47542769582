// The invoice listing of GetEmisGuiaPrev ("S" exits, "E" entries) and the dispatch of the
// call between the listing and the emission ("SF", "EF").
#include "guiaservice.h"

#include "listingquery.h"
#include "listingrows.h"
#include "sqlhelpers.h"

namespace fis {

using namespace service;

// The rows are read when the answer is sent, through this call's connection: the server sends
// it on the same worker thread right after the handler returns, before that thread (and its
// connection) serves anything else. Whatever keeps the packet in process asks its encoded()
// bytes at once (GuiaService::call, an answer inside an array).
DataPacket GuiaService::listInvoices(const Criteria &c)
{
    return listingSource(m_db, listingQuery(c));
}

GuiaService::Criteria GuiaService::listingCriteria(const rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &a,
                                                   const QString &op)
{
    Criteria c;
    c.op = op;
    c.company = a.cdEmpresa;
    c.inscEsta = a.cdInscEsta;
    c.inscMuni = a.cdInscMuni;
    c.serie = a.cdSerie;
    c.numNF = a.nrNotaFiscal;
    c.filial = a.cdFilial;
    c.imposto = a.cdImposto;
    c.inscForne = a.inscForne;
    c.status = statusLetter(a.stStatus, "PET", "T");
    c.start = a.dtEmiIni.toDate();
    c.end = a.dtEmiFin.toDate();
    return c;
}

Variant GuiaService::GetEmisGuiaPrev(rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &a, const CallInfo &info)
{
    const QString op = a.stOperacao.trimmed().toUpper();
    if (op == QLatin1String("SF"))
        return emitGuides(a, info, false);
    if (op == QLatin1String("EF"))
        return emitGuides(a, info, true);
    if (op != QLatin1String("S") && op != QLatin1String("E"))
        throw ServiceError(
            QStringLiteral("Operação inválida: \"%1\" (use S, E, SF ou EF).").arg(a.stOperacao));
    const Criteria c = listingCriteria(a, op);
    a.stStatus = c.status;
    return makePacket(listInvoices(c));
}

} // namespace fis
