#pragma once
// The GPS emission screen "FIS02900" and its unit-level state.
//
// The class is split by concern: Cli_fis02900.cpp (construction, creation, close, factories and
// unit state), recordsets.cpp (record sets, queries, data links, grids and the view switch),
// lifecycle.cpp (activation, report choice, enablement rules, the report panel and the company
// entry), loading.cpp (the filter button and the reload of the current view), selection.cpp
// (ticking the documents), editing.cpp (due date, revenue code and values typed into the grid and
// written back to the server), emission.cpp (printing the guides and emitting them on the
// server), menu.cpp (the merged menu and the handlers it forwards to), printing.cpp (the query
// parameters of the reports and the preview) and summary.cpp (the status line under the grids).
#include "filter/recordfilter.h"
#include "package/moduleexport.h"
#include "services/hostservices.h"
#include "services/rdmEmisGuiaPrvDecl.h"

#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QString>

#include <optional>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPainter;
class QRect;
class QStackedWidget;
class QToolButton;

class TfrmEmiPrevSocial : public TfrmDadosGerRel
{
    Q_OBJECT
    // The selection state, readable by name (scripts, tests).
    Q_PROPERTY(QString stOperacao MEMBER stOperacao)
    Q_PROPERTY(QString stInscForne MEMBER stInscForne)
    Q_PROPERTY(QString stCodReceSel MEMBER stCodReceSel)
    Q_PROPERTY(QString stFilialSel MEMBER stFilialSel)
    Q_PROPERTY(QString stLanctoSel MEMBER stLanctoSel)
    Q_PROPERTY(QString stStatusSel MEMBER stStatusSel)
    Q_PROPERTY(double vrTotalGuia MEMBER vrTotalGuia)
    Q_PROPERTY(double vrMultaGuia MEMBER vrMultaGuia)
    Q_PROPERTY(double vrOutrEntGuia MEMBER vrOutrEntGuia)
    Q_PROPERTY(fis::TDateTime dtVencGuia MEMBER dtVencGuia)
public:
    explicit TfrmEmiPrevSocial(QWidget *parent = nullptr);
    ~TfrmEmiPrevSocial() override;

    // The connection to the application-server object; both screens call through it.
    TNetConnection *netEmisGuiaPrev = nullptr;

    // Record sets (all owned by the screen).
    fis::ClientDataSet *cdsAprov = nullptr;      // exits view
    fis::ClientDataSet *cdsAprovAgrup = nullptr; // entries view
    fis::ClientDataSet *cdsAprovAux = nullptr;   // working copy of the emission
    fis::ClientDataSet *cdsForneAux = nullptr;   // the selection of the entries view
    fis::ClientDataSet *cdsFunRural = nullptr;   // rural-contribution maps
    fis::ClientDataSet *cdsParamFiscal = nullptr;
    fis::ClientDataSet *cdsResult = nullptr;
    fis::ClientDataSet *cdsVdBeneficiario = nullptr;
    fis::ClientDataSet *cdsCodRece = nullptr;
    fis::ClientDataSet *cdsVd_CodRece = nullptr;
    TADOIBQuery *qryEmpresa = nullptr;
    TADOIBQuery *qryVdEmpresa = nullptr;

    // Data links.
    fis::DataLink *dtsPadrao = nullptr;
    fis::DataLink *dtsFunRural = nullptr;
    fis::DataLink *dtsEmpresa = nullptr;
    fis::DataLink *dtsCodRece = nullptr;
    fis::DataLink *dtsAprov = nullptr;
    fis::DataLink *dtsAprovAgrup = nullptr;
    fis::DataLink *dtsAprovAux = nullptr;
    fis::DataLink *dtsFilial = nullptr;

    // The document area: both grids over each other, exactly one visible.
    QStackedWidget *pgcPadrao = nullptr;
    fis::DBGrid *dbgPadrao = nullptr;
    fis::DBGrid *dbgFunRural = nullptr;
    // Status line under the grids: documents listed, ticked, and the selection's total.
    QLabel *lblResumo = nullptr;

    // Toolbar buttons of this screen (besides the base screen's).
    QToolButton *sbtProcurar = nullptr;
    QToolButton *sbtVerificar = nullptr;
    QToolButton *sbtFiltro = nullptr;
    // Pictures of the grid drawing (hidden).
    QLabel *imgAprovado = nullptr;
    QLabel *imgNAprovado = nullptr;
    QLabel *imgCheck = nullptr;
    QLabel *imgUncheck = nullptr;

    // Company entry in the report panel.
    QLabel *lblEmpresa = nullptr;
    fis::MaskEdit *medCdEmpresa = nullptr;
    TBtnPesquisa *btpEmpresa = nullptr;
    QLineEdit *edtNmEmpresa = nullptr;

    // Menu merged into the host's main menu while the screen is shown (merge group 8).
    QMenuBar *mnuMenu = nullptr;
    QMenu *mnuOperac = nullptr;
    QAction *mnuImprimir = nullptr;
    QAction *mnuVisualizar = nullptr;
    QAction *mnuSalvarComo = nullptr;
    QAction *mnuConfigImpress = nullptr;
    QAction *N2 = nullptr;
    QAction *mnuFechar = nullptr;
    QMenu *mnuManutencao = nullptr;
    QAction *mnuAtualizar = nullptr;
    QAction *mnuProcurar = nullptr;
    QAction *N1 = nullptr;
    QAction *mnuFiltro = nullptr;

    // The filter criteria last confirmed for an invoice report (zero-filled at creation).
    TRecordFilter RecordFilter;

    // Operation letter of the chosen report: "E" entries, "S" exits.
    QString stOperacao;

    // Selection state (written by the selection rules, reset by loading and emission).
    QString stInscForne;
    QString stCodReceSel;
    QString stFilialSel;
    QString stLanctoSel;
    QString stStatusSel;
    double vrTotalGuia = 0;
    double vrMultaGuia = 0;
    double vrOutrEntGuia = 0;
    fis::TDateTime dtVencGuia;

    // Lifecycle.
    void FormCreate() override;
    void FormActivate() override;
    void FormClose() override;
    void netEmisGuiaPrevBeforeConnect(TNetConnection *sender);

    // Report choice and the report panel.
    void cbbReportNamesEnter();
    void cbbReportNamesChange();
    void pnlEmpresaEnter();
    void pnlEmpresaExit();

    // Company entry.
    void medCdEmpresaEnter();
    void medCdEmpresaChange();
    void medCdEmpresaExit();
    void btpEmpresaBeforePesq(TBtnPesquisa *sender, bool &cancel);
    void btpEmpresaAfterPesq(TBtnPesquisa *sender);
    void Vd_Empresa(bool obrigatorio);

    // Record-set and grid rules.
    void cdsAprovBeforeOpen(fis::ClientDataSet &set);
    void cdsAprovAgrupBeforeOpen(fis::ClientDataSet &set);
    void cdsAprovBeforeInsert(fis::ClientDataSet &set);
    void cdsAprovAgrupBeforeInsert(fis::ClientDataSet &set);
    void cdsAprovAgrupAfterScroll(fis::ClientDataSet &set);
    void cdsFunRuralAfterScroll(fis::ClientDataSet &set);
    void dtsPadraoStateChange();
    void dtsFunRuralStateChange();
    void dbgPadraoExit();

    // Selection: ticking the documents of dbgPadrao (selection.cpp).
    void dbgPadraoCellClick(fis::GridColumn *column);
    void dbgPadraoKeyPress(QChar &key);
    void dbgPadraoTitleClick(fis::GridColumn *column);
    void dbgPadraoKeyDown(quint16 &key, Qt::KeyboardModifiers shift);

    // Editing due date, revenue code, fine and other-entities value (editing.cpp).
    void dbgPadraoColEnter();
    void dbgPadraoColExit();
    void dbgPadraoEditButtonClick();
    // Checks the revenue code of the current row of the set of the operation ("E" entries, any
    // other letter exits) with the server and replaces it by the server's code; an empty code is
    // refused only when required. Abandons the caller's operation on failure.
    void Vd_CodRece(bool obrigatorio, const QString &operacao);
    // In the entries view, dtVencGuia becomes the due date of the first ticked row; the current
    // row stays where it was.
    void Verifica_Vencimento(bool mudaVenc);
    void cdsAprovVENCIMENTOSetText(fis::Field &field, const QString &text);
    void cdsAprovAgrupVENCIMENTOSetText(fis::Field &field, const QString &text);
    void cdsAprovBeforePost(fis::ClientDataSet &set);
    void cdsAprovAgrupBeforePost(fis::ClientDataSet &set);
    void cdsAprovAfterPost(fis::ClientDataSet &set);
    void cdsAprovAgrupAfterPost(fis::ClientDataSet &set);
    // The row of the grid's set whose last write-back to the server failed: its values on the
    // screen are not the server's until a later post of it is written back.
    bool rowUnsaved(int row) const;

    // Grid drawing and the rural-map grid (rendering.cpp). The draw handlers paint over the
    // cell the grid drew by default; they change no data.
    void dbgPadraoDrawColumnCell(QPainter &painter, const QRect &rect, fis::GridColumn *column,
                                 const fis::GridDrawState &state);
    void dbgFunRuralDrawColumnCell(QPainter &painter, const QRect &rect, fis::GridColumn *column,
                                   const fis::GridDrawState &state);
    void dbgFunRuralCellClick(fis::GridColumn *column);
    void dbgFunRuralTitleClick(fis::GridColumn *column);

    // Toolbar handlers of the screen's own buttons.
    void sbtFiltroClick();
    // Reloads the current view with the filter dialog's criteria as they stand (also run by the
    // emission after its server work).
    Q_INVOKABLE void sbtVerificarClick();
    // Takes the list and selection members the server wrote back into a listing or emission call.
    void takeWrittenBack(const fis::rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &args);
    void sbtProcurarClick();

    // Report parameters and the preview (printing.cpp). The preview checks the current row's
    // revenue code afterwards, not required.
    void rpddPadraoBeforeGetQueryParams(fis::ReportParams &Params, bool &flag) override;
    void sbtPreviewClick(QObject *Sender) override;
    // The path of the guide's background picture for a report directory: the directory up to
    // its first "REL" (any case), then "Rel\guia_gps.bmp".
    static QString guidePicturePath(const QString &reportDir);

    // Printing emits (emission.cpp): the chosen report is printed and the server records the
    // guides of the ticked documents (rural maps: marks the ticked maps emitted), then the view
    // is reloaded. Stops with a message, and without any server call, when the filter was never
    // given or nothing is ticked.
    void sbtPrintClick(QObject *Sender) override;
    // The tax has exactly one payee and one payable type on the server; stops otherwise.
    void Vd_Beneficiario(QString cdImposto);

    // Menu handlers. The print is invokable by name, as a host (or a script) may run it while
    // its button is not offered.
    Q_INVOKABLE void mnuImprimirClick();
    void mnuVisualizarClick();
    void mnuSalvarComoClick();
    void mnuConfigImpressClick();
    void mnuFecharClick();
    void mnuAtualizarClick();
    void mnuProcurarClick();
    void mnuFiltroClick();

    // Index of the chosen report (2 is the rural-maps report).
    int reportIndex() const;
    // "E" when the text after the first "- " of the item equals the catalogue's "Entrada"
    // exactly, "S" otherwise.
    QString operacaoDoRelatorio(const QString &itemText) const;
    // The documents of the current operation have rows.
    bool documentosCarregados() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createRecordSets();
    void createQueries();
    void createGrids();
    void createReportPanel();
    void createToolButtons();
    void createMenu();
    void createSummary();
    void fillMessages();
    // The status line, worked out again once the current event is over (summary.cpp).
    void scheduleSummary();
    void updateSummary();
    void trackFocus(QWidget *now);
    // Enables the buttons and mirrors their menu items.
    void setOutputEnabled(bool on);
    void setToolsEnabled(bool on);
    void mirrorMenu();
    void setColumnsVisible(const QStringList &fields, bool visible);
    // Puts the focus back on the company code without running the panel's enter rules.
    void focusCompanyCode();

    // Drawing helpers (rendering.cpp). Draws the hidden pictures (olive background).
    void createPictures();
    // Fills the cell with the grid's brush and copies the picture 4 pixels in, olive pixels
    // transparent; a null picture leaves the cell blank.
    void paintPicture(QPainter &painter, const QRect &rect, const QLabel *picture,
                      const fis::GridDrawState &state);
    void paintText(QPainter &painter, const QRect &rect, const QString &text,
                   const fis::GridDrawState &state);
    // The picture of a tick value: imgCheck for "C", imgUncheck for "U", none otherwise.
    const QLabel *tickPicture(const QString &value) const;
    // Output buttons enabled exactly when the current map is ticked; output items follow.
    void applyMapOutputRule();

    // The parameters of the document reports and of the rural-maps report (printing.cpp).
    void documentParams(fis::ReportParams &params);
    void ruralMapParams(fis::ReportParams &params);

    // Selection helpers. The set the grid shows in the current mode (null for no mode).
    fis::ClientDataSet *selectionSet() const;
    // The entries' payable is generated grouped by supplier.
    bool groupedPayable() const;
    // Ticks or unticks the current row when the tick column is selected and the set browsing.
    void toggleSelection(bool byClick);
    // Stores the row unticked (or drops its edit), restores the remembered row, focuses the
    // named column (none when empty) and abandons with the message.
    [[noreturn]] void refuseSelection(fis::ClientDataSet *set, const fis::Bookmark &remembered,
                                      const QString &focusField, const QString &messageKey,
                                      bool keepUnticked);
    void takeSelectionReferences();
    void clearSelectionReferences();
    // Drops the whole selection: the running total, sums and every reference value.
    void discardSelection();
    // The side record of the current entries row, with the running sums.
    void addSideRecord();
    // Removes the side record of the current entries row and its share of the running sums;
    // false when there is none.
    bool removeSideRecord(fis::LocateOptions options);

    // The three ways of the print (emission.cpp).
    void emitRuralMaps();
    void emitExits(QObject *sender, QString &status);
    void emitEntries(QObject *sender, QString &status);
    // The accounting-integration step of the entries: the clerk corrects the packet the server
    // could not post, and the emission is asked again with it.
    void emitEntriesAgain(const fis::Variant &firstAnswer, QString &status);
    // After a failed or cancelled emission: the view comes back from the server, so that no row
    // claims a guide the server never recorded.
    void reloadAfterFailure();

    // Editing helpers. The filter's tax code, as the dialog holds it now.
    QString taxCode() const;
    // The current row of the set has a guide status.
    bool rowHasGuide(const fis::ClientDataSet *set) const;
    // The key filters of the typed character (the toggle of the tick column follows them).
    void filterTypedKey(QChar &key);
    // The state rule of the revenue-code column: read-only for a ticked row with a code, the
    // ellipsis button while a row without guide is edited.
    void applyCodReceColumnRule();
    // Re-stores the due date as the plain date of its text; checks the revenue code.
    void checkRowBeforePost(fis::ClientDataSet &set);
    // Writes the posted row back to the server (once the set holds logged changes).
    void writeRowBack(fis::ClientDataSet &set);
    void setRowUnsaved(const fis::ClientDataSet &set, bool unsaved);

    // Rows whose write-back failed, by "CDFILIAL/NRLANCTONF", for each document set.
    QHash<const fis::ClientDataSet *, QSet<QString>> m_unsaved;
    // While a pass over the rows lives (select all), each revenue code is checked with the server
    // once: the server's answers by tax and adjusted code.
    friend class CodReceChecksOfPass;
    std::optional<QHash<QString, QString>> m_passCodeChecks;
    // The grid's pictures with their olive made transparent, by the picture's cache key: made
    // once, not for every cell drawn.
    QHash<qint64, QPixmap> m_maskedPictures;
    QPointer<QWidget> m_lastFocus; // last control of this screen that had the focus
    bool m_restoringFocus = false;
    bool m_summaryPending = false;
};

// The revenue-code checks of one pass over the rows of the screen (see m_passCodeChecks).
class CodReceChecksOfPass
{
public:
    explicit CodReceChecksOfPass(TfrmEmiPrevSocial *screen);
    ~CodReceChecksOfPass();
    CodReceChecksOfPass(const CodReceChecksOfPass &) = delete;
    CodReceChecksOfPass &operator=(const CodReceChecksOfPass &) = delete;

private:
    TfrmEmiPrevSocial *m_screen;
    bool m_outer;
};

// Unit-level state.
extern QPointer<TfrmEmiPrevSocial> frmEmiPrevSocial; // the one instance, or none
extern bool boStCriado;                              // the screen exists
extern bool boCtrl;      // the first activation after creation is still to come
extern bool boFiltro;    // the filter was opened from the filter button while the combo had focus
extern QString stFilial; // key list of the branches of the ticked documents
extern QString stLancamento; // key list of the entry numbers of the ticked documents
extern QString stNrMapa;     // sequence numbers of the maps selected for emission
extern QPixmap *bmPict;      // work bitmap of the grid drawing

extern "C" {
// Creates the emission screen if needed, shows it and maximises it.
FIS_MODULE_EXPORT void CriaEmiPrevSocial();
// What the host calls to open the screen.
FIS_MODULE_EXPORT void IniProc();
}

namespace fis::Cli_fis02900 {
// Unit initialisation and finalisation (counted; the last finalisation clears the unit texts
// and destroys the screen).
void initialization();
void finalization();
int initCount();
} // namespace fis::Cli_fis02900
