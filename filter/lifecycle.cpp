// Creation, activation, cancel and close of the filter dialog, and its mode-dependent layout.
//
// The criteria record lives in the emission screen (RecordFilter); only the confirm writes it.
// Everything here reads it and puts its values into the fields. The quiet checks run along the
// way accept empty fields but still report a value that is not registered: the report throws and
// the rest of the handler does not run.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"
#include "widgets/radiogroup.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <initializer_list>

namespace {

const QString kEntries = QStringLiteral("E");

// The criteria of the last confirmed invoice filter; an empty record without the emission screen.
TRecordFilter confirmedCriteria()
{
    return frmEmiPrevSocial ? frmEmiPrevSocial->RecordFilter : TRecordFilter{};
}

// The emission screen's operation letter: "E" entries, "S" exits (empty without the screen).
QString operacao()
{
    return frmEmiPrevSocial ? frmEmiPrevSocial->stOperacao : QString();
}

void enableAll(std::initializer_list<QWidget *> widgets, bool on)
{
    for (QWidget *w : widgets)
        w->setEnabled(on);
}

} // namespace

void TfrmFiltroEmiPrev::FormCreate()
{
    TfrmFiltroPadrao::FormCreate();
    boConfirma = false;
    const QString direction = operacao();
    applyDirection(direction);

    const TRecordFilter criteria = confirmedCriteria();
    putCriteria(criteria);
    medInscForne->setMaskedText(direction == kEntries ? criteria.InscForne : QString());

    Vd_Imposto(false);
    Vd_filial(false);
    Vd_Forneced(false);

    if (frmEmiPrevSocial) {
        frmEmiPrevSocial->sbtFiltro->setEnabled(true);
        frmEmiPrevSocial->mnuFiltro->setEnabled(frmEmiPrevSocial->sbtFiltro->isEnabled());
    }
    // A new dialog always starts on the default period, whatever the criteria hold.
    Atualiza_Datas();
}

void TfrmFiltroEmiPrev::FormActivate()
{
    TfrmFiltroPadrao::FormActivate();
    if (ruralMapsReport()) {
        // Maps: tax, state registration (required), period with its map lookups and status.
        enableAll({btnPesqMpIni, btnPesqMpFim}, true);
        enableAll({lblFilial, medCdFilial, btpFiliEmit, edtFilial, lblFornecedor, medInscForne,
                   btpPesqForn, edtNmForne, lblInscMuni, edtCdInscMuni, btpInscMuni, lblSerie,
                   edtCdSerie, btpSerie, lblNumNF, medNumNF},
                  false);
        setHighlighted(edtCdInscEsta, true);
        // Maps have no supplier: the disabled field shows none (going back to an invoice report
        // puts the confirmed one back).
        medInscForne->setMaskedText(QString());
        edtNmForne->clear();
        return;
    }

    enableAll({btnPesqMpIni, btnPesqMpFim}, false);
    setHighlighted(edtCdInscEsta, false);
    const QString direction = operacao();
    applyDirection(direction);
    enableAll(
        {lblFilial, medCdFilial, btpFiliEmit, lblSerie, edtCdSerie, btpSerie, lblNumNF, medNumNF},
        true);

    const TRecordFilter criteria = confirmedCriteria();
    edtCdImposto->setMaskedText(criteria.CdImposto);
    edtCdImpostoExit(); // quiet tax check; enables the registration of the tax's body
    if (direction == kEntries) {
        medInscForne->setMaskedText(criteria.InscForne);
        Vd_Forneced(false);
    } else {
        medInscForne->setMaskedText(QString());
        edtNmForne->clear();
    }
}

void TfrmFiltroEmiPrev::FormClose()
{
    TfrmFiltroPadrao::FormClose();
    // Closed by its window while in use: the clerk abandons the criteria just as with Cancel.
    // The emission screen's reload and emission read these fields, so they must go back to the
    // confirmed criteria that its report parameters use; what was typed is dropped.
    setAttribute(Qt::WA_DeleteOnClose, false); // only hidden: the instance is reused
    if (isVisible())
        sbtCancelClick();
}

void TfrmFiltroEmiPrev::sbtCancelClick()
{
    TfrmFiltroPadrao::sbtCancelClick(); // ends the modal display

    const TRecordFilter criteria = confirmedCriteria();
    putCriteria(criteria);
    depEmiIni->SetDate(criteria.DtEmiIni); // a zero date empties the edit
    depEmiFin->SetDate(criteria.DtEmiFin);
    if (depEmiIni->isBlank() || depEmiFin->isBlank())
        Atualiza_Datas();

    if (operacao() == kEntries) {
        medInscForne->setMaskedText(criteria.InscForne);
        Vd_Forneced(false);
    } else {
        medInscForne->setMaskedText(QString());
        edtNmForne->clear();
    }
    edtCdImpostoExit();
    Vd_filial(false);
    if (frmEmiPrevSocial)
        frmEmiPrevSocial->FormActivate();
}

void TfrmFiltroEmiPrev::putCriteria(const TRecordFilter &criteria)
{
    // Each field is set after the ones whose change clears it: the tax clears the registrations,
    // the state registration clears the series.
    rdgStatus->setItemIndex(criteria.Status);
    edtCdImposto->setMaskedText(criteria.CdImposto);
    medCdFilial->setMaskedText(criteria.CdFilial);
    edtCdInscEsta->setMaskedText(criteria.CdInscEsta);
    edtCdInscMuni->setMaskedText(criteria.CdInscMuni);
    edtCdSerie->setMaskedText(criteria.CdSerie);
    medNumNF->setMaskedText(criteria.NumNF);
}

void TfrmFiltroEmiPrev::Atualiza_Datas()
{
    const fis::TDateTime processing = Quorvin::DataProc(Quorvin::FiliProc());
    depEmiIni->SetDate(Consiste::PriDiaMes(processing));
    depEmiFin->SetDate(processing);
}

void TfrmFiltroEmiPrev::applyDirection(const QString &operacao)
{
    // The series lookup keeps its title; only its list changes.
    const bool entries = operacao == kEntries;
    btpSerie->SetDataSource(entries ? dtsSerieEntr : dtsSerieNF);
    enableAll({lblFornecedor, medInscForne, btpPesqForn}, entries);
}

void TfrmFiltroEmiPrev::enableRegistrations(const QString &collectingBody)
{
    const bool state = collectingBody == QLatin1String("E");
    const bool municipal = collectingBody == QLatin1String("M");
    enableAll({lblInscEsta, edtCdInscEsta, btpInscEst}, state);
    enableAll({lblInscMuni, edtCdInscMuni, btpInscMuni}, municipal);
}

bool TfrmFiltroEmiPrev::seriesAreInvoiceSeries() const
{
    return btpSerie->DataSource() == dtsSerieNF;
}
