// The checks of the filter criteria and the field events that run them.
//
// A check normalises the typed code, looks it up and fills the field's name display, or reports
// (focus on the field, the catalogue's text, the action abandoned). The exits run them in their
// lenient form: an empty optional field is accepted without a word.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"

#include <QLineEdit>

#include <algorithm>
#include <cmath>

namespace {

// Width of the tax and branch codes.
constexpr int kTaxCodeWidth = 2;
constexpr int kBranchCodeWidth = 4;

// Runs a check; an error other than a report (a failing query, a lost connection...) puts the
// focus back on the field before it goes on to the caller, as a report would have done.
template <typename Check>
void focusingOnError(TfrmFiltroEmiPrev *dialog, QWidget *field, Check &&check)
{
    try {
        check();
    } catch (const fis::EAbort &) {
        throw;
    } catch (...) {
        dialog->focusField(field);
        throw;
    }
}

// An optional registration parameter: the typed text, or null when nothing is typed (null
// matches every registration through the NVL of the statement).
void setOptionalParam(TADOIBQuery *query, const QString &name, const QString &text)
{
    if (Consiste::EmptyString(text))
        query->clearParam(name);
    else
        query->setParam(name, text);
}

// The date edit's own validity check: an empty edit or a real date passes; anything else is
// refused with the text as typed, and the focus stays on the edit.
void checkValidDate(TfrmFiltroEmiPrev *dialog, TDateEditPlus *edit)
{
    if (edit->CheckValidDate())
        return;
    dialog->focusField(edit);
    Consiste::MensErro(QStringLiteral("Data inválida: %1").arg(edit->displayText().trimmed()),
                       true);
}

} // namespace

void TfrmFiltroEmiPrev::Vd_Imposto(bool obrigatorio)
{
    if (Consiste::EmptyString(edtCdImposto->Text())) {
        if (obrigatorio)
            report(edtCdImposto, QStringLiteral("Imp_Inf"));
        return;
    }
    // Writing the normalised code back runs the change handler like typing it would.
    const QString code = Consiste::Ajusta(edtCdImposto->Text(), kTaxCodeWidth);
    if (code != edtCdImposto->Text())
        edtCdImposto->setMaskedText(code);

    loadImpostoNfe(edtCdImposto->Text());
    if (cdsImpostoNfe->isEmpty())
        report(edtCdImposto, QStringLiteral("Imp_cad"));
    edtNmImposto->setText(cdsImpostoNfe->fieldByName(QStringLiteral("SGIMPOSTONFE"))->asString());
}

void TfrmFiltroEmiPrev::Vd_filial(bool /*obrigatorio: the branch is optional*/)
{
    if (Consiste::EmptyString(medCdFilial->Text()))
        return;
    const QString code = Consiste::Ajusta(medCdFilial->Text(), kBranchCodeWidth);
    if (code != medCdFilial->Text())
        medCdFilial->setMaskedText(code);

    qryFilial->Close();
    qryFilial->setParam(QStringLiteral("P_CDFILIAL"), medCdFilial->Text());
    qryFilial->Open();
    if (qryFilial->IsEmpty())
        report(medCdFilial, QStringLiteral("Filial_Cad"));
    edtFilial->setText(qryFilial->FieldByName(QStringLiteral("NMFILIAL"))->asString());
}

void TfrmFiltroEmiPrev::Vd_Forneced(bool /*obrigatorio: the supplier is optional*/)
{
    focusingOnError(this, medInscForne, [this] {
        const QString registration = medInscForne->Text();
        const bool empty = Consiste::EmptyString(registration);
        const QString type = Consiste::Ajusta_Inscricao(registration);
        if (empty)
            return;

        qryValidForn->Close();
        qryValidForn->setParam(QStringLiteral("P_IDTPIJURFORN"), type);
        qryValidForn->setParam(QStringLiteral("P_NRINSJURFORN"), registration);
        qryValidForn->Open();
        // The name display follows the lookup even when it finds nothing.
        edtNmForne->setText(
            qryValidForn->IsEmpty()
                ? QString()
                : qryValidForn->FieldByName(QStringLiteral("NMFANTFORN"))->asString());
        if (qryValidForn->IsEmpty())
            report(medInscForne, QStringLiteral("Forn_N_Cad"));
    });
}

void TfrmFiltroEmiPrev::Vd_CdInscEsta(bool /*obrigatorio: decided by the report*/)
{
    focusingOnError(this, edtCdInscEsta, [this] {
        const QString registration = edtCdInscEsta->Text();
        if (ruralMapsReport() && Consiste::EmptyString(registration))
            report(edtCdInscEsta, QStringLiteral("InscEsta_Inf"));

        // For the invoice reports an empty field is looked up too: as null it matches any state
        // registration of the company, so it passes whenever the company has one.
        qryInscrEstad->Close();
        setOptionalParam(qryInscrEstad, QStringLiteral("P_CDINSCESTA"), registration);
        qryInscrEstad->Open();
        if (qryInscrEstad->IsEmpty())
            report(edtCdInscEsta, QStringLiteral("InscEsta_Cad"));
    });
}

void TfrmFiltroEmiPrev::Vd_CdInscMuni()
{
    focusingOnError(this, edtCdInscMuni, [this] {
        const QString registration = edtCdInscMuni->Text();
        if (Consiste::EmptyString(registration))
            return;
        qryInscrMunicip->Close();
        qryInscrMunicip->setParam(QStringLiteral("P_CDINSCMUNI"), registration);
        qryInscrMunicip->Open();
        if (qryInscrMunicip->IsEmpty())
            report(edtCdInscMuni, QStringLiteral("InscMuni_Cad"));
    });
}

void TfrmFiltroEmiPrev::Vd_Serie(bool obrigatorio)
{
    focusingOnError(this, edtCdSerie, [this, obrigatorio] {
        const QString serie = edtCdSerie->Text();
        if (Consiste::EmptyString(serie)) {
            if (obrigatorio)
                report(edtCdSerie, QStringLiteral("SerieNF_Inf"));
            return;
        }
        TADOIBQuery *query = nullptr;
        if (seriesAreInvoiceSeries()) {
            query = qrySerieNF;
            query->Close();
            query->setParam(QStringLiteral("P_CDEMPRESA"), companyCode());
            setOptionalParam(query, QStringLiteral("P_CDINSCESTA"), edtCdInscEsta->Text());
            setOptionalParam(query, QStringLiteral("P_CDINSCMUNI"), edtCdInscMuni->Text());
            query->setParam(QStringLiteral("P_CDSERIE"), serie);
        } else {
            query = qrySerieEntr;
            query->Close();
            query->setParam(QStringLiteral("P_CDSERIEENTR"), serie);
        }
        query->Open();
        if (query->IsEmpty())
            report(edtCdSerie, QStringLiteral("SerieNF_Cad"));
    });
}

void TfrmFiltroEmiPrev::Vd_Nota()
{
    if (Consiste::EmptyString(medNumNF->Text()))
        return;
    loadParamFilial();
    double width = 0.0;
    if (!cdsParamFilial->isEmpty())
        width = cdsParamFilial->fieldByName(QStringLiteral("NRTAMNUMNFUT"))->asFloat();
    // The branch's width, within what the field holds: a wider number could not be shown whole
    // and the edit would cut its last digits.
    const int capacity = medNumNF->mask().isEmpty() ? medNumNF->maxLength()
                                                    : int(medNumNF->mask().editable.count(true));
    const int positions =
        std::isfinite(width) ? int(std::lround(std::clamp(width, 0.0, double(capacity)))) : 0;
    const QString number = Consiste::Ajusta(medNumNF->Text(), positions);
    if (number != medNumNF->Text())
        medNumNF->setMaskedText(number);
}

void TfrmFiltroEmiPrev::Vd_DatasFiltro()
{
    checkValidDate(this, depEmiIni);
    checkValidDate(this, depEmiFin);
    if (depEmiIni->isBlank())
        report(depEmiIni, QStringLiteral("Dt_Ini_Inf"));
    if (depEmiFin->isBlank())
        report(depEmiFin, QStringLiteral("Dt_Fin_Inf"));
    if (depEmiFin->GetDate() < depEmiIni->GetDate())
        report(depEmiIni, QStringLiteral("Dt_Ini_Men"));
}

// ---- field events --------------------------------------------------------------------------

void TfrmFiltroEmiPrev::edtCdImpostoChange()
{
    // Another tax: its name and the registrations typed for the previous one no longer hold.
    edtNmImposto->clear();
    edtCdInscEsta->setMaskedText(QString());
    edtCdInscMuni->setMaskedText(QString());
}

void TfrmFiltroEmiPrev::edtCdImpostoExit()
{
    Vd_Imposto(false);
    // The collecting body of the tax last looked up (an empty tax keeps the previous row).
    QString body;
    if (!cdsImpostoNfe->isEmpty())
        body = cdsImpostoNfe->fieldByName(QStringLiteral("IDORGARRECADNFE"))->asString();
    enableRegistrations(body);
}

void TfrmFiltroEmiPrev::medCdFilialChange()
{
    edtFilial->clear();
}

void TfrmFiltroEmiPrev::medCdFilialExit()
{
    Vd_filial(false);
}

void TfrmFiltroEmiPrev::medInscForneChange()
{
    edtNmForne->clear();
}

void TfrmFiltroEmiPrev::medInscForneExit()
{
    Vd_Forneced(false);
}

void TfrmFiltroEmiPrev::edtCdInscEstaChange()
{
    // The series belong to a state registration.
    edtCdSerie->setMaskedText(QString());
}

void TfrmFiltroEmiPrev::edtCdInscEstaExit()
{
    Vd_CdInscEsta(false);
}

void TfrmFiltroEmiPrev::edtCdInscMuniExit()
{
    Vd_CdInscMuni();
}

void TfrmFiltroEmiPrev::edtCdSerieExit()
{
    Vd_Serie(false);
}

void TfrmFiltroEmiPrev::medNumNFExit()
{
    Vd_Nota();
}

void TfrmFiltroEmiPrev::depEmiIniExit()
{
    checkValidDate(this, depEmiIni);
}

void TfrmFiltroEmiPrev::depEmiFinExit()
{
    checkValidDate(this, depEmiFin);
}
