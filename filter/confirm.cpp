// The confirm of the filter dialog: checks the criteria, loads the emission screen's documents
// from the application server and remembers the criteria.
//
// A server answer that is not a data packet (the connection answers a text when the call failed
// on the way or on the server) is reported with its text and changes nothing: the documents on
// the screen, the criteria record and the caller's by-reference variables keep what they held,
// and the dialog stays open. The same holds for a packet that cannot be loaded.
#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"
#include "widgets/radiogroup.h"

#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>

#include <stdexcept>

namespace {

// Value of a field in the current row of the set; empty (or zero) when the set has no row.
fis::Variant currentValue(const fis::ClientDataSet *set, const QString &fieldName)
{
    if (!set || !set->active() || set->isEmpty())
        return fis::Variant();
    const fis::Field *field = set->findField(fieldName);
    return field ? field->value() : fis::Variant();
}

QString currentText(const fis::ClientDataSet *set, const char *fieldName)
{
    const fis::Variant v = currentValue(set, QString::fromLatin1(fieldName));
    return v.isNull() ? QString() : v.toString();
}

fis::TDateTime currentDate(const fis::ClientDataSet *set, const char *fieldName)
{
    const fis::Variant v = currentValue(set, QString::fromLatin1(fieldName));
    return v.canConvert<fis::TDateTime>() && !v.isNull() ? v.value<fis::TDateTime>()
                                                         : fis::TDateTime();
}

TfrmEmiPrevSocial &emissionScreen()
{
    if (!frmEmiPrevSocial)
        throw std::runtime_error("A tela de emissão da GPS não está aberta.");
    return *frmEmiPrevSocial;
}

// Status letter of the rural-contribution maps for the radio index.
QString ruralStatus(int index)
{
    switch (index) {
    case 0:
        return QStringLiteral("N");
    case 1:
        return QStringLiteral("S");
    default:
        return QStringLiteral("T");
    }
}

// The packet of a server answer, or the answer's failure reported to the clerk (abandons the
// confirm; nothing has been loaded yet).
fis::DataPacket checkedPacket(const fis::Variant &answer)
{
    return Consiste::CheckResultServ(answer, true, 0);
}

} // namespace

void TfrmFiltroEmiPrev::sbtConfirmaClick()
{
    try {
        TfrmEmiPrevSocial &screen = emissionScreen();
        if (screen.reportIndex() == 2)
            confirmFunRural(screen);
        else
            confirmNotas(screen);

        TfrmFiltroPadrao::sbtConfirmaClick(); // hides the dialog: its modal display ends
        screen.FormActivate();
    } catch (...) {
        DeactiveShowAvi(frmEmiPrevSocial);
        throw;
    }
}

fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs
TfrmFiltroEmiPrev::emisGuiaPrevArgs(const TfrmEmiPrevSocial &screen) const
{
    const fis::ClientDataSet *agrup = screen.cdsAprovAgrup;
    fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs a;
    a.stOperacao = screen.stOperacao;
    a.cdEmpresa = screen.medCdEmpresa->Text();
    a.cdInscEsta = edtCdInscEsta->Text();
    a.cdInscMuni = edtCdInscMuni->Text();
    a.cdSerie = edtCdSerie->Text();
    a.nrNotaFiscal = medNumNF->Text();
    a.cdFilial = medCdFilial->Text();
    a.cdImposto = edtCdImposto->Text();
    a.inscForne = medInscForne->Text();
    a.stStatus = stStatus;
    a.dtEmiIni = depEmiIni->GetDate();
    a.dtEmiFin = depEmiFin->GetDate();
    a.dtProcessamento = Quorvin::DataProc(Quorvin::FiliProc());
    a.stFilial = QStringLiteral(" ");
    a.stLancamento = QStringLiteral(" ");
    a.idGerConPagGuia = currentText(screen.cdsParamFiscal, "IDGERCONPAGGUIA");
    a.nrLanctoNf = currentText(agrup, "NRLANCTONF");
    a.cdFilialAtual = currentText(agrup, "CDFILIAL");
    a.vrTotalGuia = screen.vrTotalGuia;
    a.dtVencimento = currentDate(agrup, "VENCIMENTO");
    a.forneAux = screen.cdsForneAux->data(); // a closed set sends the null packet
    a.filiProc = Quorvin::FiliProc();
    a.integracao = fis::DataPacket();
    a.nomeOperador = Quorvin::NomeOperador();
    // The same order as the reload and the emission send them.
    a.stLanctoSel = screen.stLanctoSel;
    a.stFilialSel = screen.stFilialSel;
    a.reservado = QString();
    return a;
}

void TfrmFiltroEmiPrev::confirmNotas(TfrmEmiPrevSocial &screen)
{
    boConfirma = true;
    Vd_Imposto(true);
    Vd_filial(true);
    if (medInscForne->isEnabled())
        Vd_Forneced(true);
    Vd_Serie(false);
    Vd_DatasFiltro();

    screen.sbtFiltro->setEnabled(true);
    screen.mnuFiltro->setEnabled(screen.sbtFiltro->isEnabled());
    // Another index keeps the letter of the last confirm.
    if (const QString letter = invoiceStatusLetter(rdgStatus->ItemIndex()); !letter.isEmpty())
        stStatus = letter;

    ActiveShowAvi(&screen, 6, screen.msgPadrao->Msg(QStringLiteral("Carg_Dad")));
    // The report's direction as asked: it chooses the set and whether the supplier is kept.
    const QString operacao = screen.stOperacao;
    fis::ClientDataSet *target =
        operacao == QLatin1String("S") ? screen.cdsAprov : screen.cdsAprovAgrup;
    fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs args = emisGuiaPrevArgs(screen);
    const fis::DataPacket packet =
        checkedPacket(fis::rdmEmisGuiaPrv::GetEmisGuiaPrev(*screen.netEmisGuiaPrev, args));
    target->setData(packet); // decoded whole before the set changes: a bad packet loads nothing

    // What the server wrote back into the by-reference arguments reaches the variables they
    // were taken from, once the answer has been loaded.
    screen.stOperacao = args.stOperacao;
    stStatus = args.stStatus;
    screen.vrTotalGuia = args.vrTotalGuia;
    screen.stLanctoSel = args.stLanctoSel;
    screen.stFilialSel = args.stFilialSel;

    screen.dbgPadrao->setSelectedIndex(
        Consiste::IndiceCol(screen.dbgPadrao, QStringLiteral("IDCHECK")));

    DeactiveShowAvi(&screen); // also puts the default cursor back
    screen.repaint();
    screen.pgcPadrao->setEnabled(true);
    Consiste::SetChildEnabled(screen.pnlDados, true);

    TRecordFilter &f = screen.RecordFilter;
    f.Status = rdgStatus->ItemIndex();
    f.CdImposto = edtCdImposto->Text();
    f.CdFilial = medCdFilial->Text();
    f.CdInscEsta = edtCdInscEsta->Text();
    f.CdInscMuni = edtCdInscMuni->Text();
    f.CdSerie = edtCdSerie->Text();
    f.NumNF = medNumNF->Text();
    f.DtEmiIni = depEmiIni->GetDate();
    f.DtEmiFin = depEmiFin->GetDate();
    if (operacao == QLatin1String("E")) {
        f.InscForne = medInscForne->Text();
    } else {
        f.InscForne.clear();
        edtNmForne->clear();
    }
    f.Preenchido = true;
}

void TfrmFiltroEmiPrev::confirmFunRural(TfrmEmiPrevSocial &screen)
{
    stStatusFunRural = ruralStatus(rdgStatus->ItemIndex());
    Vd_Imposto(true);
    Vd_CdInscEsta(true);
    Vd_DatasFiltro();

    QString status = stStatusFunRural;
    const fis::DataPacket packet = checkedPacket(fis::rdmEmisGuiaPrv::GetFunRural(
        *screen.netEmisGuiaPrev, edtCdImposto->Text(), screen.medCdEmpresa->Text(),
        edtCdInscEsta->Text(), depEmiIni->GetDate(), depEmiFin->GetDate(), status));
    screen.cdsFunRural->setData(packet);
    stStatusFunRural = status;
}

QString TfrmFiltroEmiPrev::invoiceStatusLetter(int index)
{
    switch (index) {
    case 0:
        return QStringLiteral("P");
    case 1:
        return QStringLiteral("E");
    case 2:
        return QStringLiteral("T");
    default:
        return QString();
    }
}
