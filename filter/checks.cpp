// The checks of the filter criteria and the field events that run them.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"

void TfrmFiltroEmiPrev::Vd_Imposto(bool) {}
void TfrmFiltroEmiPrev::Vd_filial(bool) {}
void TfrmFiltroEmiPrev::Vd_Forneced(bool) {}
void TfrmFiltroEmiPrev::Vd_CdInscEsta(bool) {}
void TfrmFiltroEmiPrev::Vd_CdInscMuni() {}
void TfrmFiltroEmiPrev::Vd_Serie(bool) {}
void TfrmFiltroEmiPrev::Vd_Nota() {}
void TfrmFiltroEmiPrev::Vd_DatasFiltro() {}

void TfrmFiltroEmiPrev::edtCdImpostoChange() {}
void TfrmFiltroEmiPrev::edtCdImpostoExit() {}
void TfrmFiltroEmiPrev::medCdFilialChange() {}
void TfrmFiltroEmiPrev::medCdFilialExit() {}
void TfrmFiltroEmiPrev::medInscForneChange() {}
void TfrmFiltroEmiPrev::medInscForneExit() {}
void TfrmFiltroEmiPrev::edtCdInscEstaChange() {}
void TfrmFiltroEmiPrev::edtCdInscEstaExit() {}
void TfrmFiltroEmiPrev::edtCdInscMuniExit() {}
void TfrmFiltroEmiPrev::edtCdSerieExit() {}
void TfrmFiltroEmiPrev::medNumNFExit() {}
void TfrmFiltroEmiPrev::depEmiIniExit() {}
void TfrmFiltroEmiPrev::depEmiFinExit() {}
