// Opening the filter dialog from the screen, and reloading the documents of the current view from
// the application server with the criteria the filter dialog holds at that moment. Both discard
// the whole selection.
//
// The server's answer is checked before anything changes: an answer that is not a data packet
// (a transport or server failure comes back as a text) is shown with its text, and the rows on
// the screen and the members the server writes back keep what they held.
#include "emission/Cli_fis02900.h"

#include "filter/Cli_fis02910.h"
#include "widgets/radiogroup.h"

#include <QApplication>
#include <QComboBox>
#include <QScopeGuard>

void TfrmEmiPrevSocial::sbtFiltroClick()
{
    boFiltro = QApplication::focusWidget() == cbbReportNames;
    CriaFiltroEmiPrevSocial();
    activateWindow(); // the dialog has closed: the focus comes back to this screen
    (reportIndex() == 2 ? dbgFunRural : dbgPadrao)->setFocus(Qt::OtherFocusReason);
    // Nothing of the old selection holds for the list now shown.
    discardSelection();
    cdsForneAux->close();
}

void TfrmEmiPrevSocial::sbtVerificarClick()
{
    // The selection is discarded even when nothing is reloaded.
    discardSelection();

    // Without the filter dialog no criteria were ever given: there is nothing to reload.
    TfrmFiltroEmiPrev *filter = frmFiltroEmiPrev;
    if (!filter)
        return;

    if (reportIndex() == 2) {
        QString status = filter->stStatusFunRural;
        const fis::Variant answer = fis::rdmEmisGuiaPrv::GetFunRural(
            *netEmisGuiaPrev, filter->edtCdImposto->Text(), medCdEmpresa->Text(),
            filter->edtCdInscEsta->Text(), filter->depEmiIni->GetDate(),
            filter->depEmiFin->GetDate(), status);
        cdsFunRural->setData(Consiste::CheckResultServ(answer, true, 0));
        filter->stStatusFunRural = status;
        return;
    }

    const bool exits = stOperacao == QLatin1String("S");
    fis::ClientDataSet *target = exits ? cdsAprov : cdsAprovAgrup;
    if (!target->active() || target->isEmpty())
        return;

    // Read just before the call: the current entry row and the selection as they are now.
    fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs args = filter->emisGuiaPrevArgs(*this);
    args.stOperacao = exits ? QStringLiteral("S") : QStringLiteral("E");
    args.stStatus = TfrmFiltroEmiPrev::invoiceStatusLetter(filter->rdgStatus->ItemIndex());
    args.stFilial = stFilial;
    args.stLancamento = stLancamento;
    {
        ActiveShowAvi(this, 6, msgPadrao->Msg(QStringLiteral("Carg_Dad")));
        const auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
        const fis::Variant answer = fis::rdmEmisGuiaPrv::GetEmisGuiaPrev(*netEmisGuiaPrev, args);
        target->setData(Consiste::CheckResultServ(answer, true, 0));
    }

    // What the server wrote back, once the rows are in.
    takeWrittenBack(args);
    if (!exits) {
        // The entries' selection starts again.
        cdsForneAux->close();
        vrTotalGuia = 0;
    }
}

void TfrmEmiPrevSocial::takeWrittenBack(const fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &args)
{
    stFilial = args.stFilial;
    stLancamento = args.stLancamento;
    vrTotalGuia = args.vrTotalGuia;
    stLanctoSel = args.stLanctoSel;
    stFilialSel = args.stFilialSel;
}
