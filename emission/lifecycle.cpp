// Activation, report choice, the enablement rules of the toolbar, the report panel and the
// company entry of the emission screen.
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>

namespace {
bool hasRows(const fis::ClientDataSet *set)
{
    return set->active() && set->recordCount() > 0;
}
} // namespace

int TfrmEmiPrevSocial::reportIndex() const
{
    return cbbReportNames ? cbbReportNames->currentIndex() : -1;
}

bool TfrmEmiPrevSocial::documentosCarregados() const
{
    return (stOperacao == QLatin1String("S") && hasRows(cdsAprov)) ||
           (stOperacao == QLatin1String("E") && hasRows(cdsAprovAgrup));
}

void TfrmEmiPrevSocial::mirrorMenu()
{
    mnuImprimir->setEnabled(sbtPrint->isEnabled());
    mnuVisualizar->setEnabled(sbtPreview->isEnabled());
    mnuSalvarComo->setEnabled(sbtSalvarComo->isEnabled());
    mnuConfigImpress->setEnabled(sbtConfigImpress->isEnabled());
    mnuAtualizar->setEnabled(sbtVerificar->isEnabled());
    mnuProcurar->setEnabled(sbtProcurar->isEnabled());
}

void TfrmEmiPrevSocial::setOutputEnabled(bool on)
{
    sbtPrint->setEnabled(on);
    sbtPreview->setEnabled(on);
    sbtSalvarComo->setEnabled(on);
}

void TfrmEmiPrevSocial::setToolsEnabled(bool on)
{
    sbtConfigImpress->setEnabled(on);
    sbtVerificar->setEnabled(on);
    sbtProcurar->setEnabled(on);
}

void TfrmEmiPrevSocial::FormActivate()
{
    TfrmDadosGerRel::FormActivate();
    if (boCtrl) {
        if (cbbReportNames->count() > 0)
            cbbReportNames->setCurrentIndex(0); // a choice by program: no change handler
        boCtrl = false;
    }
    stOperacao = operacaoDoRelatorio(cbbReportNames->currentText());
    const bool loaded = documentosCarregados();
    setToolsEnabled(loaded);
    setOutputEnabled(loaded);
    if (reportIndex() == 2) {
        const bool maps = hasRows(cdsFunRural);
        setToolsEnabled(maps);
        setOutputEnabled(maps);
    }
    mirrorMenu();
}

void TfrmEmiPrevSocial::cbbReportNamesEnter()
{
    cdsFunRural->close();
    sbtProcurar->setEnabled(false);
    sbtVerificar->setEnabled(false);
}

void TfrmEmiPrevSocial::cbbReportNamesChange()
{
    stOperacao = operacaoDoRelatorio(cbbReportNames->currentText());
    const bool maps = reportIndex() == 2;
    dbgFunRural->setVisible(maps);
    dbgPadrao->setVisible(!maps);
    pgcPadrao->setCurrentWidget(maps ? static_cast<QWidget *>(dbgFunRural) : dbgPadrao);
    cdsFunRural->close();
}

void TfrmEmiPrevSocial::pnlEmpresaEnter()
{
    (stOperacao == QLatin1String("S") ? cdsAprov : cdsAprovAgrup)->close();
    if (!cdsForneAux->active())
        cdsForneAux->createDataSet();
    cdsForneAux->close();
    stInscForne.clear();
    vrTotalGuia = 0;
}

void TfrmEmiPrevSocial::pnlEmpresaExit()
{
    Vd_Empresa(true);
    if (boFiltro) {
        boFiltro = false;
        return;
    }
    CriaFiltroEmiPrevSocial();
    activateWindow(); // the dialog has closed: the focus comes back to this screen
}

void TfrmEmiPrevSocial::medCdEmpresaEnter()
{
    if (!cdsFunRural->active())
        cdsFunRural->createDataSet();
    cdsFunRural->emptyDataSet();
    sbtProcurar->setEnabled(false);
    sbtVerificar->setEnabled(false);
    if (reportIndex() == 2)
        dtsFunRuralStateChange();
}

void TfrmEmiPrevSocial::medCdEmpresaChange()
{
    edtNmEmpresa->clear();
    sbtFiltro->setEnabled(!Consiste::EmptyString(medCdEmpresa->Text()));
    mnuFiltro->setEnabled(sbtFiltro->isEnabled());
}

void TfrmEmiPrevSocial::medCdEmpresaExit()
{
    Vd_Empresa(false);
}

void TfrmEmiPrevSocial::btpEmpresaBeforePesq(TBtnPesquisa *, bool &)
{
    qryEmpresa->Close();
    qryEmpresa->clearParam(QStringLiteral("P_CDEMPRESA"));
    qryEmpresa->Open();
}

void TfrmEmiPrevSocial::btpEmpresaAfterPesq(TBtnPesquisa *)
{
    medCdEmpresa->setMaskedText(qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA"))->asString());
    edtNmEmpresa->setText(qryEmpresa->FieldByName(QStringLiteral("NMRAZSOCEMPR"))->asString());
}

void TfrmEmiPrevSocial::focusCompanyCode()
{
    if (QApplication::focusWidget() == medCdEmpresa)
        return;
    m_restoringFocus = true;
    medCdEmpresa->setFocus(Qt::OtherFocusReason);
    m_restoringFocus = false;
}

void TfrmEmiPrevSocial::Vd_Empresa(bool obrigatorio)
{
    try {
        edtNmEmpresa->clear();
        QString code = medCdEmpresa->Text();
        if (Consiste::EmptyString(code)) {
            if (obrigatorio)
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Empr_Inf")), true);
            return;
        }
        code = Consiste::Ajusta(code, 2);
        medCdEmpresa->setMaskedText(code);

        qryVdEmpresa->Close();
        qryVdEmpresa->setParam(QStringLiteral("P_CDEMPRESA"), code);
        qryVdEmpresa->Open();
        if (qryVdEmpresa->IsEmpty())
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Empr_Cad")), true);

        qryEmpresa->Close();
        qryEmpresa->setParam(QStringLiteral("P_CDEMPRESA"), code);
        qryEmpresa->Open();
        edtNmEmpresa->setText(qryEmpresa->FieldByName(QStringLiteral("NMRAZSOCEMPR"))->asString());
    } catch (...) {
        focusCompanyCode();
        throw;
    }
}

void TfrmEmiPrevSocial::dtsPadraoStateChange()
{
    if (!(documentosCarregados() || (reportIndex() == 2 && hasRows(cdsFunRural)))) {
        setToolsEnabled(false);
        mirrorMenu();
        return;
    }
    setToolsEnabled(true);
    mirrorMenu();
    applyCodReceColumnRule();
}

void TfrmEmiPrevSocial::dbgPadraoExit()
{
    setOutputEnabled(false);
    mirrorMenu();
}

// The report panel has no focus events of its own: its enter and exit are worked out from the
// focus moves inside this screen. Moves to or from other windows (a dialog opening, the host
// switching screens) neither enter nor leave it.
void TfrmEmiPrevSocial::trackFocus(QWidget *now)
{
    if (!now || now->window() != window() || !isAncestorOf(now))
        return;
    QWidget *before = m_lastFocus;
    m_lastFocus = now;
    if (m_restoringFocus || before == now)
        return;
    const bool wasIn = before && panRelat->isAncestorOf(before);
    const bool isIn = panRelat->isAncestorOf(now);
    if (!wasIn && isIn)
        fis::guarded([this] { pnlEmpresaEnter(); });
    else if (wasIn && !isIn)
        fis::guarded([this] { pnlEmpresaExit(); });
}

bool TfrmEmiPrevSocial::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == cbbReportNames && event->type() == QEvent::FocusIn && !m_restoringFocus)
        fis::guarded([this] { cbbReportNamesEnter(); });
    return TfrmDadosGerRel::eventFilter(watched, event);
}
