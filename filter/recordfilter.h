#pragma once
// The filter criteria that the emission screen keeps and the filter dialog reads and writes.
#include "data/variant.h"

#include <QString>
#include <QtGlobal>

struct TRecordFilter
{
    qint32 Status = 0;       // index of the status radio group: 0 Pendente, 1 Emitidos, 2 Ambos
    QString CdImposto;       // tax code, up to 2 digits
    QString CdFilial;        // branch code, up to 4 digits
    QString CdInscEsta;      // state registration
    QString CdInscMuni;      // municipal registration
    QString CdSerie;         // invoice series
    QString NumNF;           // invoice number
    QString InscForne;       // supplier registration (entries only)
    fis::TDateTime DtEmiIni; // first day of the period
    fis::TDateTime DtEmiFin; // last day of the period
    bool Preenchido = false; // an invoice filter has been confirmed
};
