#pragma once
// The filter dialog "FIS02910" of the GPS emission and its unit-level state.
//
// The class is split by concern: Cli_fis02910.cpp (construction, factory and unit state),
// controls.cpp (the criteria controls, their layout and tab order, the message catalogue),
// lifecycle.cpp (creation, activation, cancel, close and the mode-dependent layout), queries.cpp
// (the lookup queries and their SQL texts), checks.cpp (the field checks and field events),
// lookups.cpp (the lookup buttons and the remote calls behind them) and confirm.cpp (the
// confirm, which loads the emission screen's documents).
//
// The dialog keeps no state about the screen it serves: it reads the one emission screen
// (frmEmiPrevSocial) on every use.
#include "filter/recordfilter.h"
#include "package/moduleexport.h"
#include "services/hostservices.h"

#include <QPointer>
#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;
class TfrmEmiPrevSocial;

namespace fis {
class RadioGroup;
}

class TfrmFiltroEmiPrev : public TfrmFiltroPadrao
{
    Q_OBJECT
public:
    explicit TfrmFiltroEmiPrev(QWidget *parent = nullptr);
    ~TfrmFiltroEmiPrev() override;

    // ---- criteria controls (inside grbFiltroPadrao), in tab order ------------------------------
    QLabel *lblImposto = nullptr;
    fis::MaskEdit *edtCdImposto = nullptr; // "99;0; "
    TBtnPesquisa *btpImposto = nullptr;
    QLineEdit *edtNmImposto = nullptr; // name display: read-only, never focused

    QLabel *lblFilial = nullptr;
    fis::MaskEdit *medCdFilial = nullptr; // "9999;0; "
    TBtnPesquisa *btpFiliEmit = nullptr;
    QLineEdit *edtFilial = nullptr;

    QLabel *lblFornecedor = nullptr;
    fis::MaskEdit *medInscForne = nullptr; // 21 digits
    TBtnPesquisa *btpPesqForn = nullptr;
    QLineEdit *edtNmForne = nullptr;

    QLabel *lblInscEsta = nullptr;          // tag 99
    fis::MaskEdit *edtCdInscEsta = nullptr; // upper case, at most 16
    TBtnPesquisa *btpInscEst = nullptr;

    QLabel *lblInscMuni = nullptr;          // tag 99
    fis::MaskEdit *edtCdInscMuni = nullptr; // upper case, at most 16
    TBtnPesquisa *btpInscMuni = nullptr;

    QGroupBox *grbSerie = nullptr; // the series and the invoice number
    QLabel *lblSerie = nullptr;
    fis::MaskEdit *edtCdSerie = nullptr; // upper case, at most 5
    TBtnPesquisa *btpSerie = nullptr;    // list source chosen by the operation direction
    QLabel *lblNumNF = nullptr;
    fis::MaskEdit *medNumNF = nullptr; // 20 digits

    QGroupBox *grbPeriodo = nullptr; // "Período"
    QLabel *lblEmiIni = nullptr;
    TDateEditPlus *depEmiIni = nullptr;
    TBtnPesquisa *btnPesqMpIni = nullptr; // rural-contribution maps (start)
    QLabel *lblEmiFin = nullptr;
    TDateEditPlus *depEmiFin = nullptr;
    TBtnPesquisa *btnPesqMpFim = nullptr; // rural-contribution maps (end)

    fis::RadioGroup *rdgStatus = nullptr; // "Status do GPS": Pendente, Emitidos, Ambos

    // ---- lookup and check record sets ----------------------------------------------------------
    TADOIBQuery *qryFilial = nullptr;
    TADOIBQuery *qryInscrEstad = nullptr;
    TADOIBQuery *qryInscrMunicip = nullptr;
    TADOIBQuery *qrySerieNF = nullptr;
    TADOIBQuery *qrySerieEntr = nullptr;
    TADOIBQuery *qryPesqForn = nullptr;
    TADOIBQuery *qryValidForn = nullptr;
    fis::ClientDataSet *cdsImpostoNfe = nullptr;  // GetImpostoNfe
    fis::ClientDataSet *cdsMapa = nullptr;        // GetMapa
    fis::ClientDataSet *cdsParamFilial = nullptr; // GetParamFilial

    fis::DataLink *dtsFilial = nullptr;
    fis::DataLink *dtsInscrEstad = nullptr;
    fis::DataLink *dtsInscrMunicip = nullptr;
    fis::DataLink *dtsSerieNF = nullptr;
    fis::DataLink *dtsSerieEntr = nullptr;
    fis::DataLink *dtsPesqForn = nullptr;
    fis::DataLink *dtsImpostoNfe = nullptr;
    fis::DataLink *dtsMapa = nullptr;

    // Status letter of the rural-contribution query: "N", "S" or "T" (set by its confirm, read
    // by the emission screen's reload).
    QString stStatusFunRural;

    // ---- lifecycle (lifecycle.cpp) -------------------------------------------------------------
    void FormCreate() override;
    void FormActivate() override;
    void FormClose() override;
    void sbtCancelClick() override;
    // Default period: first day of the processing month to the processing date.
    void Atualiza_Datas();
    // Puts status, tax, branch, registrations, series and invoice number of the criteria into
    // the fields (not the supplier nor the period).
    void putCriteria(const TRecordFilter &criteria);

    // ---- confirm (confirm.cpp) -----------------------------------------------------------------
    void sbtConfirmaClick() override;
    // The invoice listing's arguments from the criteria and the screen's state.
    fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs
    emisGuiaPrevArgs(const TfrmEmiPrevSocial &screen) const;
    // The two paths of the confirm: the invoice reports and the rural-contribution report.
    void confirmNotas(TfrmEmiPrevSocial &screen);
    void confirmFunRural(TfrmEmiPrevSocial &screen);
    // The guide status the invoice listing asks for by the status index: "P" pending, "E"
    // emitted, "T" both; empty for no index.
    static QString invoiceStatusLetter(int index);

    // ---- checks (checks.cpp); "obrigatorio" reports an empty field where the check honours it --
    void Vd_Imposto(bool obrigatorio);
    void Vd_filial(bool obrigatorio);
    void Vd_Forneced(bool obrigatorio);
    void Vd_CdInscEsta(bool obrigatorio);
    void Vd_CdInscMuni();
    void Vd_Serie(bool obrigatorio);
    void Vd_Nota();
    void Vd_DatasFiltro();

    // Field events.
    void edtCdImpostoChange();
    void edtCdImpostoExit();
    void medCdFilialChange();
    void medCdFilialExit();
    void medInscForneChange();
    void medInscForneExit();
    void edtCdInscEstaChange();
    void edtCdInscEstaExit();
    void edtCdInscMuniExit();
    void edtCdSerieExit();
    void medNumNFExit();
    void depEmiIniExit();
    void depEmiFinExit();

    // ---- lookups (lookups.cpp) -----------------------------------------------------------------
    void btpImpostoBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpImpostoAfterPesq(TBtnPesquisa *sender);
    void btpFiliEmitBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpFiliEmitAfterPesq(TBtnPesquisa *sender);
    void btpPesqFornBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpPesqFornAfterPesq(TBtnPesquisa *sender);
    void btpInscEstBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpInscEstAfterPesq(TBtnPesquisa *sender);
    void btpInscMuniBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpInscMuniAfterPesq(TBtnPesquisa *sender);
    void btpSerieBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpSerieAfterPesq(TBtnPesquisa *sender);
    void btnPesqMpIniBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btnPesqMpIniAfterPesq(TBtnPesquisa *sender);
    void btnPesqMpFimBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btnPesqMpFimAfterPesq(TBtnPesquisa *sender);

    // Company parameter of the registration queries, from the emission screen, on every open.
    void qryInscrEstadBeforeOpen(fis::ClientDataSet &set);
    void qryInscrMunicipBeforeOpen(fis::ClientDataSet &set);

    // The remote calls behind the lookups and checks, on the emission screen's connection.
    // Taxes (all when code is empty) under the progress window, checked and loaded into
    // cdsImpostoNfe.
    void loadImpostoNfe(const QString &code);
    // Maps of the company, tax and state registration around the start date; kind "I" or "F".
    void loadMapa(const QString &kind);
    // Parameters of the typed branch.
    void loadParamFilial();

    // ---- mode-dependent layout (lifecycle.cpp) -------------------------------------------------
    // Direction rule of the invoice reports: "E" lists entry series and enables the supplier,
    // anything else lists invoice series and disables it.
    void applyDirection(const QString &operacao);
    // The registration enabling of the tax exit: "E" state, "M" municipal, anything else none.
    void enableRegistrations(const QString &collectingBody);
    // True when the series lookup lists invoice series (dtsSerieNF).
    bool seriesAreInvoiceSeries() const;

    // The emission screen's company code (empty without the screen).
    static QString companyCode();
    // The emission screen's report choice is the rural-contribution report.
    static bool ruralMapsReport();

    // Puts the focus on the field and abandons the action with the catalogue's text of key.
    // The exit handler of the control the focus leaves meanwhile does not run.
    [[noreturn]] void report(QWidget *field, const QString &key);
    // Moves the focus to the field without running the exit handler of the control it leaves.
    void focusField(QWidget *field);

    // The information colour that marks a required field.
    static void setHighlighted(QWidget *field, bool on);
    static bool isHighlighted(const QWidget *field);

private:
    void createControls();
    void createQueries();
    void connectHandlers();
    void fillMessages();

    bool m_restoringFocus = false; // a check is putting the focus back: exits do not run
};

// Unit-level state.
extern QPointer<TfrmFiltroEmiPrev> frmFiltroEmiPrev; // the one instance, or none
extern bool boConfirma;  // an invoice filter has been confirmed since the dialog was created
extern QString stStatus; // status letter of the last confirm for an invoice report

extern "C" {
// Creates the filter dialog if needed, shows it modally and answers boConfirma.
FIS_MODULE_EXPORT bool CriaFiltroEmiPrevSocial();
}

namespace fis::Cli_fis02910 {
void initialization();
void finalization();
int initCount();
} // namespace fis::Cli_fis02910
