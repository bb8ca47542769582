#pragma once
// The invoice listing's statement: its SQL and bound values for a set of criteria, and the
// fields of the packet it answers (exits and entries views). The listing itself (listing.cpp)
// and the benchmarks run the same statement.
#include "data/packet.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QVariantList>

namespace fis::service {

struct ListingCriteria
{
    QString op; // "S" exits, "E" entries
    QString company, inscEsta, inscMuni, serie, numNF, filial, imposto, inscForne, status;
    QDate start, end;
};

struct ListingQuery
{
    bool entries = false;
    QString sql;
    QVariantList binds;
};

// The columns, in order: 0 CDFILIAL, 1 CDFILIRECE, 2 DTEMISSAO, 3 DTENTRSAID, 4 CDCLIENTE,
// 5 NRINSJURNF, 6 NMRAZSOCCLIE, 7 NMRAZSOCFORN, 8 NRLANCTONF, 9 NRNOTAFISC, 10 CDSERIE,
// 11 IDENTRSAIDOP, 12 CDFILIEMIT, 13 VRMULTAGUIA, 14 VROUTRENTGUIA, 15 CDRECEGUIA, 16 VRNOTAFISC,
// 17 DTVENCGUIA, 18 VRTOTIMPONF, 19 NRGUIA, 20 CDFORNECED (the entries view reads 1, 2, 4, 6
// and 10 as NULL).
ListingQuery listingQuery(const ListingCriteria &criteria);

// The packet fields of the exits (cdsAprov) and entries (cdsAprovAgrup) views.
const QList<PacketField> &listingFields(bool entries);

} // namespace fis::service
