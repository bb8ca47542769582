// Printing the guides emits them: the chosen report is printed, the application server records
// the guides of the ticked documents (for the entries, with the payables and their postings when
// the fiscal parameters ask for them), what it answers is shown, and the view is reloaded.
//
// Three ways, by the chosen report: the rural maps (report 2) mark the ticked maps emitted; the
// exits ("S") record the guides of the ticked exits; the entries record theirs and, when the
// payable is grouped by supplier, may hand the clerk the accounting-integration window to
// correct the accounts the server could not post to.
//
// Nothing on the screen claims what the server did not do: a refused or failed emission is
// shown with its text, and the rows come back from the server.
#include "emission/Cli_fis02900.h"
#include "emission/displayupdates.h"

#include "filter/Cli_fis02910.h"
#include "widgets/radiogroup.h"

#include <QApplication>
#include <QScopeGuard>

#include <cmath>

using fis::ClientDataSet;
using fis::DataSetState;

namespace {

const QString kTicked = QStringLiteral("C");

QString text(const ClientDataSet *set, const char *field)
{
    return set->fieldByName(QString::fromLatin1(field))->asString();
}

bool editing(const ClientDataSet *set)
{
    return set->state() == DataSetState::Edit || set->state() == DataSetState::Insert;
}

// The items of an array answer, each judged as the answer of a call would be: a text item is
// an error text. An answer that is no array of at least `count` items stops with its text (or
// says it is unusable).
QVariantList arrayAnswer(const fis::Variant &answer, int count)
{
    if (fis::kindOf(answer) == fis::VariantKind::Array) {
        const QVariantList items = answer.toList();
        if (items.size() >= count)
            return items;
    }
    const QString error = Consiste::resultError(answer);
    Consiste::MensErro(error.isEmpty() ? QStringLiteral("Resposta inválida do servidor de "
                                                        "aplicação: esperada uma lista de %1 "
                                                        "itens.")
                                             .arg(count)
                                       : error,
                       true);
}

} // namespace

void TfrmEmiPrevSocial::sbtPrintClick(QObject *Sender)
{
    // The documents and their criteria only ever come through the filter dialog.
    TfrmFiltroEmiPrev *filter = frmFiltroEmiPrev;
    if (!filter)
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Filtro_Inf")), true);

    if (ClientDataSet *shown = dtsPadrao->dataSet(); shown && editing(shown))
        shown->post();

    if (reportIndex() == 2) {
        emitRuralMaps();
    } else {
        QString status = TfrmFiltroEmiPrev::invoiceStatusLetter(filter->rdgStatus->ItemIndex());
        if (reportIndex() == 1)
            Vd_Beneficiario(filter->edtCdImposto->Text());
        if (groupedPayable())
            Verifica_Vencimento(false);
        // The current row's code (an empty list has no current row to check).
        if (documentosCarregados())
            Vd_CodRece(true, stOperacao);
        if (stOperacao == QLatin1String("S"))
            emitExits(Sender, status);
        else
            emitEntries(Sender, status);
    }
    sbtVerificarClick();
}

void TfrmEmiPrevSocial::Vd_Beneficiario(QString cdImposto)
{
    const fis::Variant answer = fis::rdmEmisGuiaPrv::GetVdBeneficiario(*netEmisGuiaPrev, cdImposto);
    cdsVdBeneficiario->setData(Consiste::CheckResultServ(answer, true, 0));
    cdsVdBeneficiario->first();
    const QString payee = text(cdsVdBeneficiario, "CDFORNECED");
    const QString payableType = text(cdsVdBeneficiario, "CDTPCTPAGAR");
    if (payee.isEmpty() || payableType.isEmpty())
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Ben_Inf")), true);
    for (cdsVdBeneficiario->first(); !cdsVdBeneficiario->eof(); cdsVdBeneficiario->next()) {
        if (text(cdsVdBeneficiario, "CDFORNECED") != payee ||
            text(cdsVdBeneficiario, "CDTPCTPAGAR") != payableType)
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Erro_Ben")), true);
    }
}

void TfrmEmiPrevSocial::emitRuralMaps()
{
    // Only the maps the clerk ticked, listed as the report lists them.
    stNrMapa = QStringLiteral("_");
    if (cdsFunRural->active()) {
        DisplayUpdatesOff off(cdsFunRural);
        const fis::Bookmark mark = cdsFunRural->bookmark();
        for (cdsFunRural->first(); !cdsFunRural->eof(); cdsFunRural->next()) {
            if (text(cdsFunRural, "IDCHECK") == kTicked)
                stNrMapa += text(cdsFunRural, "NRSEQUMAPAPU") + QLatin1Char('_');
        }
        if (cdsFunRural->bookmarkValid(mark))
            cdsFunRural->gotoBookmark(mark);
    }
    if (stNrMapa == QLatin1String("_")) {
        dbgFunRural->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Mapa_Inf")), true);
    }

    ActiveShowAvi(this, 6, msgPadrao->Msg(QStringLiteral("Carg_Dad")));
    auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
    const fis::Variant answer = fis::rdmEmisGuiaPrv::GeraFunRural(*netEmisGuiaPrev, stNrMapa);
    const QString error = Consiste::resultError(answer);
    if (!error.isEmpty()) {
        // The refusal is shown; the maps come back as the server has them.
        hide.dismiss();
        DeactiveShowAvi(this);
        fis::HostUi::instance()->message(fis::MessageKind::Error, error, this);
        reloadAfterFailure();
        throw fis::EAbort{};
    }
    cdsFunRural->setData(Consiste::CheckResultServ(answer, true, 0));
    sbtVerificarClick();
}

void TfrmEmiPrevSocial::emitExits(QObject *sender, QString &status)
{
    try {
        if (cdsAprov->active() && !cdsAprov->isEmpty()) {
            // The ticked rows show as emitted while the report runs; each post writes the row's
            // values back to the server.
            DisplayUpdatesOff off(cdsAprov);
            for (cdsAprov->first(); !cdsAprov->eof(); cdsAprov->next()) {
                if (text(cdsAprov, "IDCHECK") != kTicked)
                    continue;
                cdsAprov->edit();
                cdsAprov->fieldByName(QStringLiteral("IDSTATUSGUIA"))
                    ->setAsString(QStringLiteral("S"));
                cdsAprov->post();
            }
            TfrmDadosGerRel::sbtPrintClick(sender);
            off.release();
            cdsAprov->first();
        } else {
            // Nothing listed, nothing ticked: the lists of an earlier print must not be emitted.
            stFilial = QStringLiteral("_");
            stLancamento = QStringLiteral("_");
        }

        fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs args = frmFiltroEmiPrev->emisGuiaPrevArgs(*this);
        args.stOperacao = QStringLiteral("SF");
        args.stStatus = status;
        args.stFilial = stFilial;
        args.stLancamento = stLancamento;
        args.idGerConPagGuia = QStringLiteral("N");
        fis::DataPacket packet;
        {
            ActiveShowAvi(this, 6, msgPadrao->Msg(QStringLiteral("Atu_Dad")));
            const auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
            const fis::Variant answer =
                fis::rdmEmisGuiaPrv::GetEmisGuiaPrev(*netEmisGuiaPrev, args);
            packet = Consiste::CheckResultServ(answer, true, 0);
        }
        cdsAprov->setData(packet);
        status = args.stStatus;
        takeWrittenBack(args);
    } catch (...) {
        // A cancelled print, a refused emission or a failed write-back: the rows marked above
        // are not emitted.
        DeactiveShowAvi(this);
        reloadAfterFailure();
        throw;
    }
}

void TfrmEmiPrevSocial::emitEntries(QObject *sender, QString &status)
{
    if (editing(cdsAprovAgrup))
        cdsAprovAgrup->post();

    // The working copy shows the ticked rows only.
    if (cdsAprovAux->active())
        cdsAprovAux->emptyDataSet();
    else
        cdsAprovAux->createDataSet();
    if (cdsAprovAgrup->active())
        cdsAprovAux->setData(cdsAprovAgrup->data());
    cdsAprovAux->setFilter(QStringLiteral("IDCHECK ='C'"));
    cdsAprovAux->setFiltered(true);
    const auto focusColumn = [this](const char *field) {
        if (dbgPadrao->setSelectedField(QString::fromLatin1(field)))
            dbgPadrao->setFocus();
    };
    if (cdsAprovAux->recordCount() == 0) {
        focusColumn("IDCHECK");
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("nf_inf")), true);
    }

    const bool grouped = groupedPayable();
    if (grouped) {
        // In cents: a total of exactly 10,00 passes however its sum was rounded.
        if (std::round(vrTotalGuia * 100.0) < 1000.0) {
            focusColumn("VRTOTIMPONF");
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Vr_Maior")), true);
        }
        const QVariantList check = arrayAnswer(
            fis::rdmEmisGuiaPrv::GetVdContaPagar(*netEmisGuiaPrev, cdsForneAux->data()), 2);
        if (!Consiste::EmptyString(check.at(0).toString())) {
            focusColumn("IDCHECK");
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Cont_Exi")), true);
        }
        const QString forecast = check.at(1).toString();
        if (forecast != QLatin1String("OK") && !forecast.isEmpty()) {
            focusColumn("IDCHECK");
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Cont_Prev")), true);
        }
    }

    if (cdsAprovAgrup->active() && !cdsAprovAgrup->isEmpty()) {
        DisplayUpdatesOff off(cdsAprovAgrup);
        stFilial = QStringLiteral("_");
        stLancamento = QStringLiteral("_");
        for (cdsAprovAgrup->first(); !cdsAprovAgrup->eof(); cdsAprovAgrup->next()) {
            if (text(cdsAprovAgrup, "IDCHECK") != kTicked)
                continue;
            stFilial += text(cdsAprovAgrup, "CDFILIAL") + QLatin1Char('_');
            stLancamento += text(cdsAprovAgrup, "NRLANCTONF") + QLatin1Char('_');
        }
        TfrmDadosGerRel::sbtPrintClick(sender);
        off.release();
        cdsAprovAgrup->first();
    }

    fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs args = frmFiltroEmiPrev->emisGuiaPrevArgs(*this);
    args.stOperacao = QStringLiteral("EF");
    args.stStatus = status;
    args.stFilial = stFilial;
    args.stLancamento = stLancamento;
    args.nrLanctoNf = stInscForne;
    args.dtVencimento = dtVencGuia;
    fis::Variant answer;
    {
        ActiveShowAvi(this, 6, msgPadrao->Msg(QStringLiteral("Carg_Dad")));
        const auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
        answer = fis::rdmEmisGuiaPrv::GetEmisGuiaPrev(*netEmisGuiaPrev, args);
    }
    status = args.stStatus;
    takeWrittenBack(args);
    dtVencGuia = args.dtVencimento;
    stInscForne.clear();
    if (fis::kindOf(answer) == fis::VariantKind::Text)
        Consiste::MensErro(answer.toString(), true);

    if (!grouped) {
        cdsAprovAgrup->setData(Consiste::CheckResultServ(answer, true, 0));
        cdsForneAux->close();
        vrTotalGuia = 0;
        return;
    }

    const QVariantList items = arrayAnswer(answer, 3);
    cdsResult->setData(Consiste::CheckResultServ(items.at(0), true, 0));
    const fis::DataPacket view = Consiste::CheckResultServ(items.at(2), true, 0);
    cdsAprovAgrup->setData(view);
    cdsForneAux->close();
    discardSelection();
    if (!cdsResult->active() || cdsResult->isEmpty())
        return;

    // The lowest result type decides.
    cdsResult->first();
    const QString code = text(cdsResult, "CDRESULT");
    const QString message = text(cdsResult, "DSRESULT");
    if (code == QLatin1String("MSG") && message == QLatin1String("ERRO_CONTABILIZACAO")) {
        emitEntriesAgain(answer, status);
        return;
    }
    if (code == QLatin1String("MSG"))
        Consiste::MensErro(msgPadrao->Msg(message), true);
    if (code == QLatin1String("ERR"))
        Consiste::MensErro(message, true);
    cdsAprovAgrup->setData(view);
    cdsForneAux->close();
    vrTotalGuia = 0;
}

void TfrmEmiPrevSocial::emitEntriesAgain(const fis::Variant &firstAnswer, QString &status)
{
    // The temporary set of the step: the integration packet, then the clerk's correction.
    auto *cdsIntegracao = new ClientDataSet(QStringLiteral("cdsIntegracao"), this);
    cdsIntegracao->setObjectName(QStringLiteral("cdsIntegracao"));
    const auto drop = qScopeGuard([cdsIntegracao] { delete cdsIntegracao; });

    const QVariantList first = firstAnswer.toList();
    fis::Variant latest = firstAnswer;
    cdsIntegracao->setData(Consiste::CheckResultServ(first.at(1), true, 0));
    cdsIntegracao->setData(CriaManutencao(cdsIntegracao->data(), this));
    if (frmManutIntegra) {
        delete frmManutIntegra;
        frmManutIntegra = nullptr;
    }

    {
        ActiveShowAvi(QApplication::activeWindow(), 1);
        const auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
        if (!cdsIntegracao->data().isNull()) {
            fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs args =
                frmFiltroEmiPrev->emisGuiaPrevArgs(*this);
            args.stOperacao = QStringLiteral("EF");
            args.stStatus = status;
            args.stFilial = stFilial;
            args.stLancamento = stLancamento;
            args.dtVencimento = dtVencGuia;
            args.integracao = cdsIntegracao->data();
            latest = fis::rdmEmisGuiaPrv::GetEmisGuiaPrev(*netEmisGuiaPrev, args);
            status = args.stStatus;
            takeWrittenBack(args);
            dtVencGuia = args.dtVencimento;
            if (fis::kindOf(latest) == fis::VariantKind::Text)
                Consiste::MensErro(latest.toString(), true);
            const QVariantList items = arrayAnswer(latest, 3);
            cdsResult->setData(Consiste::CheckResultServ(items.at(0), true, 0));
            if (cdsResult->active() && !cdsResult->isEmpty()) {
                cdsResult->first();
                const QString code = text(cdsResult, "CDRESULT");
                const QString message = text(cdsResult, "DSRESULT");
                if (code == QLatin1String("MSG"))
                    Consiste::MensErro(msgPadrao->Msg(message), true);
                if (code == QLatin1String("ERR"))
                    Consiste::MensErro(message, true);
            }
        }
    }
    cdsAprovAgrup->setData(Consiste::CheckResultServ(arrayAnswer(latest, 3).at(2), true, 0));
    cdsForneAux->close();
    vrTotalGuia = 0;
}

void TfrmEmiPrevSocial::reloadAfterFailure()
{
    try {
        sbtVerificarClick();
    } catch (const fis::EAbort &) {
        // The reload's own failure has been shown; say what it leaves on the screen.
        fis::HostUi::instance()->message(
            fis::MessageKind::Error,
            QStringLiteral("A lista não pôde ser atualizada depois da falha na emissão: as "
                           "linhas mostradas podem não ser as do servidor. Atualize a tela "
                           "(F5)."),
            this);
    }
}
