#include "listingquery.h"

#include "sqlhelpers.h"

namespace fis::service {

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

const QList<PacketField> &listingFields(bool entries)
{
    return entries ? aprovAgrupFields() : aprovFields();
}

ListingQuery listingQuery(const ListingCriteria &c)
{
    ListingQuery out;
    const bool entries = out.entries = c.op == QLatin1String("E");
    const QString period = entries ? QStringLiteral("N.DTENTRSAID") : QStringLiteral("N.DTEMISSAO");
    // The entries view shows no customer, receiving branch, emission date or series: those
    // columns are neither read nor looked up for it (their places stay, as NULL).
    const auto column = [entries](const char *name) {
        return entries ? QStringLiteral("NULL") : QString::fromLatin1(name);
    };
    QString &sql = out.sql;
    sql = QStringLiteral(
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
    QVariantList &binds = out.binds;
    binds << c.op;
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
    return out;
}

} // namespace fis::service
