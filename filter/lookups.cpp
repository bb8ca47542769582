// The lookup buttons of the filter dialog and the remote calls behind lookups and checks.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"

void TfrmFiltroEmiPrev::btpImpostoBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btpImpostoAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btpFiliEmitBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btpFiliEmitAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btpPesqFornBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btpPesqFornAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btpInscEstBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btpInscEstAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btpInscMuniBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btpInscMuniAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btpSerieBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btpSerieAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btnPesqMpIniBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btnPesqMpIniAfterPesq(TBtnPesquisa *) {}
void TfrmFiltroEmiPrev::btnPesqMpFimBeforePesq(TBtnPesquisa *, bool &) {}
void TfrmFiltroEmiPrev::btnPesqMpFimAfterPesq(TBtnPesquisa *) {}

void TfrmFiltroEmiPrev::loadImpostoNfe(const QString &) {}
void TfrmFiltroEmiPrev::loadMapa(const QString &) {}
void TfrmFiltroEmiPrev::loadParamFilial() {}
