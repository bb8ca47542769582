// The invoice listing of GetEmisGuiaPrev ("S" exits, "E" entries) and the dispatch of the
// call between the listing and the emission ("SF", "EF").
#include "guiaservice.h"

#include "listingquery.h"
#include "sqlhelpers.h"

namespace fis {

using namespace service;

DataPacket GuiaService::listInvoices(const Criteria &c)
{
    const ListingQuery query = listingQuery(c);
    const bool entries = query.entries;
    Sql q(m_db, query.sql);
    q.exec(query.binds);
    PacketWriter w(listingFields(entries));
    const QString unchecked = QStringLiteral("U");
    const QString emitted = QStringLiteral("S");
    while (q.next()) {
        const QString status = q.value(19).isNull() ? QString() : emitted;
        const Variant due = dateValue(sqlDate(q.value(17)));
        if (entries) {
            w.addRow({q.text(20), q.text(5), q.text(7) + QStringLiteral(": ") + q.text(9),
                      q.text(11), q.text(12), dateValue(sqlDate(q.value(3))), q.number(16),
                      unchecked, q.number(18), due, q.text(0), q.text(8), q.text(9), q.number(13),
                      q.number(14), q.text(15), status});
        } else {
            w.addRow({q.text(0),
                      q.text(1),
                      dateValue(sqlDate(q.value(2))),
                      dateValue(sqlDate(q.value(3))),
                      q.text(4),
                      q.text(5),
                      q.text(6),
                      q.text(7),
                      q.text(8),
                      q.text(9),
                      q.text(10),
                      q.text(11),
                      q.text(12),
                      q.number(13),
                      q.number(14),
                      q.text(15),
                      q.number(16),
                      unchecked,
                      due,
                      q.number(18),
                      status});
        }
    }
    return w.finish();
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
