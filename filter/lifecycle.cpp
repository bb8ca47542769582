// Creation, activation, cancel and close of the filter dialog, and its mode-dependent layout.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"

void TfrmFiltroEmiPrev::FormCreate()
{
    TfrmFiltroPadrao::FormCreate();
    boConfirma = false;
}

void TfrmFiltroEmiPrev::FormActivate()
{
    TfrmFiltroPadrao::FormActivate();
}

void TfrmFiltroEmiPrev::FormClose()
{
    TfrmFiltroPadrao::FormClose();
}

void TfrmFiltroEmiPrev::sbtCancelClick()
{
    TfrmFiltroPadrao::sbtCancelClick();
}

void TfrmFiltroEmiPrev::Atualiza_Datas() {}

void TfrmFiltroEmiPrev::applyDirection(const QString &) {}

void TfrmFiltroEmiPrev::enableRegistrations(const QString &) {}

bool TfrmFiltroEmiPrev::seriesAreInvoiceSeries() const
{
    return btpSerie->DataSource() == dtsSerieNF;
}
