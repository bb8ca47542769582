// The invoice listing of GetEmisGuiaPrev ("S" exits, "E" entries) and the dispatch of the
// call between the listing and the emission ("SF", "EF").
#include "guiaservice.h"

#include "sqlhelpers.h"

namespace fis {

using namespace service;

namespace {

const QList<PacketField> &aprovFields()
{
    static const QList<PacketField> f = {
        str("CDFILIAL", 4),      str("CDFILIRECE", 4),    dt("DTEMISSAO"),
        dt("DTENTRSAID"),        str("CDCLIENTE", 21),    str("NRINSJURNF", 20),
        str("NMRAZSOCCLIE", 50), str("NMRAZSOCFORN", 77), str("NRLANCTONF", 10),
        str("NRNOTAFISC", 20),   str("CDSERIE", 5),       str("IDENTRSAIDOP", 1),
        str("CDFILIEMIT", 4),    flt("VRMULTAGUIA"),      flt("VROUTRENTGUIA"),
        str("CDRECEGUIA", 5),    flt("VRNOTAFISC"),       fixed("IDCHECK", 1),
        dt("VENCIMENTO"),        flt("VRTOTIMPONF"),      str("IDSTATUSGUIA", 1)};
    return f;
}

const QList<PacketField> &aprovAgrupFields()
{
    static const QList<PacketField> f = {str("CDFORNECED", 21),
                                         str("NRINSJURNF", 20),
                                         str("NMRAZSOCFORN", 77),
                                         str("IDENTRSAIDOP", 1),
                                         str("CDFILIEMIT", 4),
                                         dt("DTENTRSAID"),
                                         flt("SOMA"),
                                         fixed("IDCHECK", 1),
                                         flt("VRTOTIMPONF"),
                                         dt("VENCIMENTO"),
                                         str("CDFILIAL", 4),
                                         str("NRLANCTONF", 10),
                                         str("NRNOTAFISC", 20),
                                         flt("VRMULTAGUIA"),
                                         flt("VROUTRENTGUIA"),
                                         str("CDRECEGUIA", 5),
                                         str("IDSTATUSGUIA", 1)};
    return f;
}

} // namespace

DataPacket GuiaService::listInvoices(const Criteria &c)
{
    const bool entries = c.op == QLatin1String("E");
    const QString period = entries ? QStringLiteral("N.DTENTRSAID") : QStringLiteral("N.DTEMISSAO");
    // The entries view shows no customer, receiving branch, emission date or series: those
    // columns are neither read nor looked up for it (their places stay, as NULL).
    const auto column = [entries](const char *name) {
        return entries ? QStringLiteral("NULL") : QString::fromLatin1(name);
    };
    QString sql =
        QStringLiteral(
            "SELECT N.CDFILIAL, %3, %4, N.DTENTRSAID, %5, N.NRINSJURNF,"
            " %1, F.NMRAZSOCFORN, N.NRLANCTONF, N.NRNOTAFISC, %6,"
            " N.IDENTRSAIDOP, N.CDFILIEMIT, N.VRMULTAGUIA, N.VROUTRENTGUIA, N.CDRECEGUIA,"
            " N.VRNOTAFISC, N.DTVENCGUIA, N.VRTOTIMPONF, G.NRGUIA, N.CDFORNECED"
            " FROM NOTAFISCAL N"
            "%2"
            " LEFT JOIN FORNECEDOR F ON F.CDFORNECED = N.CDFORNECED"
            " LEFT JOIN GUIAPREV G ON G.CDFILIAL = N.CDFILIAL AND G.NRLANCTONF = N.NRLANCTONF"
            " WHERE N.IDENTRSAIDOP = ?")
            .arg(column("C.NMRAZSOCCLIE"),
                 entries ? QString()
                         : QStringLiteral(" LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"),
                 column("N.CDFILIRECE"), column("N.DTEMISSAO"), column("N.CDCLIENTE"),
                 column("N.CDSERIE"));
    QVariantList binds{c.op};
    const auto criterion = [&](const QString &value, const char *column) {
        if (!value.trimmed().isEmpty()) {
            sql += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
            binds << value.trimmed();
        }
    };
    criterion(c.company, "N.CDEMPRESA");
    criterion(c.inscEsta, "N.CDINSCESTA");
    criterion(c.inscMuni, "N.CDINSCMUNI");
    criterion(c.serie, "N.CDSERIE");
    criterion(c.numNF, "N.NRNOTAFISC");
    criterion(c.filial, "N.CDFILIAL");
    criterion(c.imposto, "N.CDIMPOSTO");
    criterion(c.inscForne, "N.NRINSJURNF");
    if (c.start.isValid()) {
        sql += QStringLiteral(" AND %1 >= ?").arg(period);
        binds << sqlParam(c.start);
    }
    if (c.end.isValid()) {
        sql += QStringLiteral(" AND %1 <= ?").arg(period);
        binds << sqlParam(c.end);
    }
    if (c.status == QLatin1String("P"))
        sql += QStringLiteral(" AND G.NRGUIA IS NULL");
    else if (c.status == QLatin1String("E"))
        sql += QStringLiteral(" AND G.NRGUIA IS NOT NULL");
    sql += QStringLiteral(" ORDER BY %1, N.CDFILIAL, N.NRLANCTONF").arg(period);

    Sql q(m_db, sql);
    q.exec(binds);
    PacketWriter w(entries ? aprovAgrupFields() : aprovFields());
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
