// The lookup buttons of the filter dialog and the remote calls behind lookups and checks.
//
// A before handler fills the button's list (it never vetoes it); an after handler copies the
// picked row into the fields and nothing else: the checks run when the clerk leaves the field.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"

#include <QApplication>
#include <QLineEdit>
#include <QScopeGuard>

#include <stdexcept>
#include <utility>

namespace {

namespace rdm = fis::rdmEmisGuiaPrv;

// The emission screen's connection to the application server, which the dialog shares.
TNetConnection &connection()
{
    if (!frmEmiPrevSocial || !frmEmiPrevSocial->netEmisGuiaPrev)
        throw std::runtime_error(
            "A tela de emissão da GPS não está aberta: não há conexão com o servidor.");
    return *frmEmiPrevSocial->netEmisGuiaPrev;
}

// Loads a remote answer that must be a data packet. The connection answers a text when the call
// fails on the way or on the server; that text, or any other answer that is not a packet, is
// reported (and the action abandoned) instead of passing for an empty list.
void loadPacket(fis::ClientDataSet *set, const fis::Variant &answer)
{
    if (fis::kindOf(answer) == fis::VariantKind::Packet) {
        set->setData(answer.value<fis::DataPacket>());
        return;
    }
    // CheckResultServ reports texts and missing answers; an array would be judged by one of its
    // items there, which is not an answer of these methods either.
    const QString error = fis::kindOf(answer) == fis::VariantKind::Array
                              ? QStringLiteral("Resposta inesperada do servidor (%1).")
                                    .arg(fis::kindName(fis::VariantKind::Array))
                              : Consiste::resultError(answer);
    Consiste::MensErro(error, true);
}

// The picked row's value of a field.
QString picked(fis::DataLink *link, const char *field)
{
    return link->dataSet()->fieldByName(QLatin1String(field))->asString();
}

} // namespace

// ---- taxes -------------------------------------------------------------------------------------

void TfrmFiltroEmiPrev::btpImpostoBeforePesq(TBtnPesquisa *, bool &)
{
    loadImpostoNfe(QString());
}

void TfrmFiltroEmiPrev::btpImpostoAfterPesq(TBtnPesquisa *)
{
    // The code first: its change handler clears the name display.
    edtCdImposto->setMaskedText(picked(dtsImpostoNfe, "CDIMPOSTONFE"));
    edtNmImposto->setText(picked(dtsImpostoNfe, "SGIMPOSTONFE"));
}

// ---- branches ----------------------------------------------------------------------------------

void TfrmFiltroEmiPrev::btpFiliEmitBeforePesq(TBtnPesquisa *, bool &)
{
    qryFilial->Close();
    qryFilial->clearParam(QStringLiteral("P_CDFILIAL"));
    qryFilial->Open();
}

void TfrmFiltroEmiPrev::btpFiliEmitAfterPesq(TBtnPesquisa *)
{
    medCdFilial->setMaskedText(picked(dtsFilial, "CDFILIAL"));
    edtFilial->setText(picked(dtsFilial, "NMFILIAL"));
}

// ---- suppliers ---------------------------------------------------------------------------------

void TfrmFiltroEmiPrev::btpPesqFornBeforePesq(TBtnPesquisa *, bool &)
{
    qryPesqForn->Close();
    qryPesqForn->Open();
}

void TfrmFiltroEmiPrev::btpPesqFornAfterPesq(TBtnPesquisa *)
{
    medInscForne->setMaskedText(picked(dtsPesqForn, "NRINSJURFORN"));
    edtNmForne->setText(picked(dtsPesqForn, "NMFANTFORN"));
}

// ---- registrations -----------------------------------------------------------------------------

void TfrmFiltroEmiPrev::btpInscEstBeforePesq(TBtnPesquisa *, bool &)
{
    qryInscrEstad->Close();
    qryInscrEstad->clearParam(QStringLiteral("P_CDINSCESTA"));
    qryInscrEstad->Open(); // the company comes from its before-open handler
}

void TfrmFiltroEmiPrev::btpInscEstAfterPesq(TBtnPesquisa *)
{
    edtCdInscEsta->setMaskedText(picked(dtsInscrEstad, "CDINSCESTA"));
}

void TfrmFiltroEmiPrev::btpInscMuniBeforePesq(TBtnPesquisa *, bool &)
{
    qryInscrMunicip->Close();
    qryInscrMunicip->clearParam(QStringLiteral("P_CDINSCMUNI"));
    qryInscrMunicip->Open();
}

void TfrmFiltroEmiPrev::btpInscMuniAfterPesq(TBtnPesquisa *)
{
    edtCdInscMuni->setMaskedText(picked(dtsInscrMunicip, "CDINSCMUNI"));
}

// ---- series ------------------------------------------------------------------------------------

void TfrmFiltroEmiPrev::btpSerieBeforePesq(TBtnPesquisa *, bool &)
{
    if (seriesAreInvoiceSeries()) {
        // The company's series, narrowed to the registrations typed so far.
        qrySerieNF->Close();
        qrySerieNF->setParam(QStringLiteral("P_CDEMPRESA"), companyCode());
        for (const auto &[param, edit] :
             {std::pair{"P_CDINSCESTA", edtCdInscEsta}, std::pair{"P_CDINSCMUNI", edtCdInscMuni}}) {
            if (Consiste::EmptyString(edit->Text()))
                qrySerieNF->clearParam(QLatin1String(param));
            else
                qrySerieNF->setParam(QLatin1String(param), edit->Text());
        }
        qrySerieNF->clearParam(QStringLiteral("P_CDSERIE"));
        qrySerieNF->Open();
    } else {
        qrySerieEntr->Close();
        qrySerieEntr->clearParam(QStringLiteral("P_CDSERIEENTR"));
        qrySerieEntr->Open();
    }
}

void TfrmFiltroEmiPrev::btpSerieAfterPesq(TBtnPesquisa *)
{
    edtCdSerie->setMaskedText(seriesAreInvoiceSeries() ? picked(dtsSerieNF, "CDSERIE")
                                                       : picked(dtsSerieEntr, "CDSERIEENTR"));
}

// ---- rural-contribution maps -------------------------------------------------------------------

void TfrmFiltroEmiPrev::btnPesqMpIniBeforePesq(TBtnPesquisa *, bool &)
{
    loadMapa(QStringLiteral("I"));
}

void TfrmFiltroEmiPrev::btnPesqMpIniAfterPesq(TBtnPesquisa *)
{
    depEmiIni->SetDate(cdsMapa->fieldByName(QStringLiteral("DTINIPERIODO"))->asDateTime());
}

void TfrmFiltroEmiPrev::btnPesqMpFimBeforePesq(TBtnPesquisa *, bool &)
{
    loadMapa(QStringLiteral("F"));
}

void TfrmFiltroEmiPrev::btnPesqMpFimAfterPesq(TBtnPesquisa *)
{
    depEmiFin->SetDate(cdsMapa->fieldByName(QStringLiteral("DTFIMPERIODO"))->asDateTime());
}

// ---- remote calls ------------------------------------------------------------------------------

void TfrmFiltroEmiPrev::loadImpostoNfe(const QString &code)
{
    TNetConnection &net = connection();
    fis::Variant answer;
    {
        ActiveShowAvi(this, 1);
        const auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
        answer = rdm::GetImpostoNfe(net, code);
    }
    cdsImpostoNfe->setData(Consiste::CheckResultServ(answer, true, 0));
}

void TfrmFiltroEmiPrev::loadMapa(const QString &kind)
{
    // Both lookups send the start date: the maps around the period's start.
    loadPacket(cdsMapa, rdm::GetMapa(connection(), depEmiIni->GetDate(), companyCode(),
                                     edtCdImposto->Text(), edtCdInscEsta->Text(), kind));
}

void TfrmFiltroEmiPrev::loadParamFilial()
{
    loadPacket(cdsParamFilial, rdm::GetParamFilial(connection(), medCdFilial->Text()));
}
