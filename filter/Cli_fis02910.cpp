#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"
#include "package/Pkg_Fis02900.h"

#include <QApplication>
#include <QScopeGuard>

QPointer<TfrmFiltroEmiPrev> frmFiltroEmiPrev;
bool boConfirma = false;
QString stStatus;

namespace {
int g_initCount = 0;
constexpr int kRuralMapsReport = 2;
} // namespace

TfrmFiltroEmiPrev::TfrmFiltroEmiPrev(QWidget *parent)
    : TfrmFiltroPadrao(QStringLiteral("FIS02910"), parent)
{
    setObjectName(QStringLiteral("frmFiltroEmiPrev"));
    setWindowTitle(QStringLiteral("Filtro de Emissão da Guia da Previdência Social"));
    btfSaveOpc->setEnabled(false);
    btfLoadOpc->setEnabled(false);
    createControls();
    fillMessages();
    createQueries();
    connectHandlers();
}

TfrmFiltroEmiPrev::~TfrmFiltroEmiPrev() = default;

void TfrmFiltroEmiPrev::connectHandlers()
{
    // Every handler runs inside the error guard; exits do not run while a check puts the focus
    // back on its field.
    auto onChange = [this](fis::MaskEdit *edit, void (TfrmFiltroEmiPrev::*handler)()) {
        edit->onChange = [this, handler] { fis::guarded([this, handler] { (this->*handler)(); }); };
    };
    auto onExit = [this](fis::MaskEdit *edit, void (TfrmFiltroEmiPrev::*handler)()) {
        edit->onExit = [this, handler] {
            if (!m_restoringFocus)
                fis::guarded([this, handler] { (this->*handler)(); });
        };
    };
    onChange(edtCdImposto, &TfrmFiltroEmiPrev::edtCdImpostoChange);
    onExit(edtCdImposto, &TfrmFiltroEmiPrev::edtCdImpostoExit);
    onChange(medCdFilial, &TfrmFiltroEmiPrev::medCdFilialChange);
    onExit(medCdFilial, &TfrmFiltroEmiPrev::medCdFilialExit);
    onChange(medInscForne, &TfrmFiltroEmiPrev::medInscForneChange);
    onExit(medInscForne, &TfrmFiltroEmiPrev::medInscForneExit);
    onChange(edtCdInscEsta, &TfrmFiltroEmiPrev::edtCdInscEstaChange);
    onExit(edtCdInscEsta, &TfrmFiltroEmiPrev::edtCdInscEstaExit);
    onExit(edtCdInscMuni, &TfrmFiltroEmiPrev::edtCdInscMuniExit);
    onExit(edtCdSerie, &TfrmFiltroEmiPrev::edtCdSerieExit);
    onExit(medNumNF, &TfrmFiltroEmiPrev::medNumNFExit);
    onExit(depEmiIni, &TfrmFiltroEmiPrev::depEmiIniExit);
    onExit(depEmiFin, &TfrmFiltroEmiPrev::depEmiFinExit);

    using Before = void (TfrmFiltroEmiPrev::*)(TBtnPesquisa *, bool &);
    using After = void (TfrmFiltroEmiPrev::*)(TBtnPesquisa *);
    auto bind = [this](TBtnPesquisa *button, Before before, After after) {
        button->OnBeforePesq = [this, before](TBtnPesquisa *sender, bool &cancel) {
            (this->*before)(sender, cancel);
        };
        button->OnAfterPesq = [this, after](TBtnPesquisa *sender) { (this->*after)(sender); };
    };
    bind(btpImposto, &TfrmFiltroEmiPrev::btpImpostoBeforePesq,
         &TfrmFiltroEmiPrev::btpImpostoAfterPesq);
    bind(btpFiliEmit, &TfrmFiltroEmiPrev::btpFiliEmitBeforePesq,
         &TfrmFiltroEmiPrev::btpFiliEmitAfterPesq);
    bind(btpPesqForn, &TfrmFiltroEmiPrev::btpPesqFornBeforePesq,
         &TfrmFiltroEmiPrev::btpPesqFornAfterPesq);
    bind(btpInscEst, &TfrmFiltroEmiPrev::btpInscEstBeforePesq,
         &TfrmFiltroEmiPrev::btpInscEstAfterPesq);
    bind(btpInscMuni, &TfrmFiltroEmiPrev::btpInscMuniBeforePesq,
         &TfrmFiltroEmiPrev::btpInscMuniAfterPesq);
    bind(btpSerie, &TfrmFiltroEmiPrev::btpSerieBeforePesq, &TfrmFiltroEmiPrev::btpSerieAfterPesq);
    bind(btnPesqMpIni, &TfrmFiltroEmiPrev::btnPesqMpIniBeforePesq,
         &TfrmFiltroEmiPrev::btnPesqMpIniAfterPesq);
    bind(btnPesqMpFim, &TfrmFiltroEmiPrev::btnPesqMpFimBeforePesq,
         &TfrmFiltroEmiPrev::btnPesqMpFimAfterPesq);

    qryInscrEstad->beforeOpen = [this](fis::ClientDataSet &set) { qryInscrEstadBeforeOpen(set); };
    qryInscrMunicip->beforeOpen = [this](fis::ClientDataSet &set) {
        qryInscrMunicipBeforeOpen(set);
    };
}

QString TfrmFiltroEmiPrev::companyCode()
{
    return frmEmiPrevSocial ? frmEmiPrevSocial->medCdEmpresa->Text() : QString();
}

bool TfrmFiltroEmiPrev::ruralMapsReport()
{
    return frmEmiPrevSocial && frmEmiPrevSocial->reportIndex() == kRuralMapsReport;
}

bool CriaFiltroEmiPrevSocial()
{
    return fis::guardedResult<bool>(
        [] {
            {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
                if (!frmFiltroEmiPrev) {
                    auto *dialog = fis::package::createForm<TfrmFiltroEmiPrev>(FisModalDialog);
                    // Created once; a close only hides it, so its fields keep their values.
                    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
                    frmFiltroEmiPrev = dialog;
                    dialog->create();
                }
            }
            // The clerk works in the dialog with the normal cursor.
            frmFiltroEmiPrev->exec();
            return boConfirma;
        },
        boConfirma);
}

namespace fis::Cli_fis02910 {

void initialization()
{
    ++g_initCount;
}

void finalization()
{
    if (g_initCount == 0 || --g_initCount > 0)
        return;
    stStatus.clear();
    fis::package::destroyForm(frmFiltroEmiPrev);
    frmFiltroEmiPrev = nullptr;
}

int initCount()
{
    return g_initCount;
}

} // namespace fis::Cli_fis02910
