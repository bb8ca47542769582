#pragma once
// Base of the report screens: screen and report code labels, the output toolbar (print, preview,
// save as, printer set-up, close), the report panel with the report-name combo, the document
// area that subclasses fill, the report dialog and the screen's message catalogue.
//
// Reports: the combo lists the definitions of the screen's report code found in the report
// directory (Quorvin ReportDir, or setReportDir()); the chosen one runs through rpddPadrao, which
// calls rpddPadraoBeforeGetQueryParams before its query. The catalogue msgPadrao starts with the
// base screen's keys ("Arq_Rel_Err", "NovoCaption", "NovoPrompt"); subclasses add their own.
//
// Lifecycle: FormCreate() runs once, on the first show or when the owner calls create();
// FormActivate() runs whenever the screen becomes the active window (and may be called
// directly); FormClose() runs when the screen closes. A creation that fails (a server out of
// reach, say) is told through the error guard and the screen closes itself: it never stays open
// half-built, and the next opening builds a new one. Subclasses override the virtual handlers
// and call the base version first. Every entry from Qt runs inside fis::guarded().
#include "framework/reportparams.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QPrinter;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class TMessages;
class TReportDesignerDialog;

namespace fis {
struct ReportDefinition;
struct ReportListing;
} // namespace fis

class TfrmDadosGerRel : public QWidget
{
    Q_OBJECT
public:
    TfrmDadosGerRel(const QString &screenCode, const QString &reportCode,
                    QWidget *parent = nullptr);
    ~TfrmDadosGerRel() override;

    // Components (objectName = the member's name).
    QLabel *lblCodTela = nullptr; // screen code, e.g. "FIS02900"
    QLabel *lblCodRel = nullptr;  // report code, e.g. "FIS029"
    QToolBar *tlbPadrao = nullptr;
    QToolButton *sbtPrint = nullptr;         // "Imprimir"
    QToolButton *sbtPreview = nullptr;       // "Visualizar Impressão"
    QToolButton *sbtSalvarComo = nullptr;    // "Salvar Como"
    QToolButton *sbtConfigImpress = nullptr; // "Configurar Impressora"
    QToolButton *sbtFechar = nullptr;        // "Fechar"
    QFrame *panRelat = nullptr;              // report panel: the combo, then the subclass's fields
    QComboBox *cbbReportNames = nullptr;
    QFrame *pnlDados = nullptr; // the document area; subclasses fill dataLayout()
    TReportDesignerDialog *rpddPadrao = nullptr;
    TMessages *msgPadrao = nullptr;    // the screen's catalogue
    TMessages *msgMensagens = nullptr; // the base screen's general catalogue

    QHBoxLayout *reportPanelLayout() const { return m_reportPanelLayout; }
    QVBoxLayout *dataLayout() const { return m_dataLayout; }
    // Where subclasses add their own toolbar buttons (after the base screen's output buttons).
    QToolBar *toolBar() const { return tlbPadrao; }

    QString screenCode() const { return m_screenCode; }
    QString reportCode() const { return m_reportCode; }

    // The report directory; empty = Quorvin's ReportDir.
    void setReportDir(const QString &dir) { m_reportDir = dir; }
    QString reportDir() const;
    // Refills cbbReportNames from the definition files (run by FormCreate). When there are none,
    // shows "Arq_Rel_Err" with the report code and the directory (the screen stays usable).
    void loadReportNames();
    // The definition of the chosen report; throws (after showing "Arq_Rel_Err" through
    // Consiste::MensErro) when its file is gone or no report is chosen.
    fis::ReportDefinition chosenReport();

    // Runs FormCreate() once (no-op afterwards). False when the creation failed: the failure has
    // been told and the screen is about to close.
    bool create();
    bool isCreated() const { return m_created; }
    bool creationFailed() const { return m_creationFailed; }

    // Handlers; override and call the base version first.
    virtual void FormCreate();
    // Invokable so that a host or a script can re-run the activation by name, as a dialog that
    // loaded the screen's documents does.
    Q_INVOKABLE virtual void FormActivate();
    virtual void FormClose();
    // Print: to the printer chosen in the set-up, to the system's default printer, or, with no
    // printer at all, to a PDF file whose name is asked for. A cancelled file choice abandons the
    // action silently (fis::EAbort), so nothing that follows the print in a subclass runs.
    virtual void sbtPrintClick(QObject *sender);
    virtual void sbtPreviewClick(QObject *sender);
    // Saves the chosen report as a PDF file whose name is asked for; cancel abandons silently.
    virtual void sbtSalvarComoClick(QObject *sender);
    virtual void sbtConfigImpressClick(QObject *sender);
    virtual void sbtFecharClick(QObject *sender);
    // Called by rpddPadrao before it queries; the base does nothing.
    virtual void rpddPadraoBeforeGetQueryParams(fis::ReportParams &params, bool &flag);

    // The printer the screen prints with (set-up changes it).
    QPrinter *printer() const;

    // Runs the chosen report (params handler, query) with the progress window shown and returns
    // its listing.
    fis::ReportListing runChosenReport();

    // How file names are asked for (save as, print to PDF). The default asks with QFileDialog;
    // tests and scripts install their own. Returns the previous chooser. An empty answer means
    // the clerk cancelled.
    using FileNameChooser =
        std::function<QString(QWidget *parent, const QString &caption, const QString &suggested)>;
    static FileNameChooser setFileNameChooser(FileNameChooser chooser);
    // How the preview is shown; the default opens QPrintPreviewDialog. Returns the previous one.
    using PreviewShower = std::function<void(QWidget *parent, const fis::ReportListing &listing)>;
    static PreviewShower setPreviewShower(PreviewShower shower);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString askFileName(const QString &caption);
    void followSubWindow();
    void activate();
    void closeScreen();
    QString m_screenCode;
    QString m_reportCode;
    QString m_reportDir;
    QHBoxLayout *m_reportPanelLayout = nullptr;
    QVBoxLayout *m_dataLayout = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    bool m_printerChosen = false;
    QMetaObject::Connection m_subWindowConnection;
    bool m_created = false;
    bool m_creationFailed = false;
    bool m_creating = false;
    bool m_activationPending = false;
};
