// The confirm of the filter dialog: checks the criteria, loads the emission screen's documents
// from the application server and remembers the criteria.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"

void TfrmFiltroEmiPrev::sbtConfirmaClick()
{
    if (!ruralMapsReport())
        boConfirma = true;
    TfrmFiltroPadrao::sbtConfirmaClick();
}
