#include "framework/frmdadosgerrel.h"

#include "data/abort.h"
#include "framework/consiste.h"
#include "framework/pagesetup.h"
#include "framework/quorvin.h"
#include "framework/reportdesigner.h"
#include "framework/showavi.h"
#include "framework/tmessages.h"
#include "framework/toolicons.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

TfrmDadosGerRel::FileNameChooser &fileNameChooser()
{
    static TfrmDadosGerRel::FileNameChooser chooser = [](QWidget *parent, const QString &caption,
                                                         const QString &suggested) {
        return QFileDialog::getSaveFileName(parent, caption, suggested,
                                            QStringLiteral("Documento PDF (*.pdf)"));
    };
    return chooser;
}

TfrmDadosGerRel::PreviewShower &previewShower()
{
    static TfrmDadosGerRel::PreviewShower shower = [](QWidget *parent,
                                                      const fis::ReportListing &listing) {
        // The screen's printer, so that the preview shows the page of the printer set-up.
        auto *screen = qobject_cast<TfrmDadosGerRel *>(parent);
        QPrinter own(QPrinter::HighResolution);
        own.setPageLayout(fis::defaultReportPageLayout());
        QPrinter *printer = screen ? screen->printer() : &own;
        QPrintPreviewDialog dialog(printer, parent);
        dialog.setObjectName(QStringLiteral("dlgPreview"));
        dialog.setWindowTitle(listing.title);
        // Laid out again for the page the preview asks for (its page set-up may change it).
        QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                         [&listing](QPrinter *p) {
                             fis::guarded([&] {
                                 const fis::ReportPages pages = listing.pages(p->pageLayout());
                                 pages.print(p);
                                 TReportDesignerDialog::notifyOutput(
                                     pages, QStringLiteral("preview"), QString());
                             });
                         });
        dialog.exec();
    };
    return shower;
}

// The progress window while a report is run or written; closed again however that ends.
class ReportProgress
{
public:
    explicit ReportProgress(QWidget *screen) { ActiveShowAvi(screen, 6); }
    ~ReportProgress() { DeactiveShowAvi(); }
    ReportProgress(const ReportProgress &) = delete;
    ReportProgress &operator=(const ReportProgress &) = delete;
};

// "%s" placeholders filled in order, as the catalogue texts are written.
QString fillPlaceholders(QString text, const QStringList &args)
{
    for (const QString &arg : args) {
        const qsizetype at = text.indexOf(QLatin1String("%s"));
        if (at < 0)
            break;
        text.replace(at, 2, arg);
    }
    return text;
}

QToolButton *outputButton(QToolBar *bar, const char *name, const QString &hint, fis::ToolIcon icon)
{
    auto *button = new QToolButton(bar);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(hint);
    button->setText(hint);
    button->setIcon(fis::toolIcon(icon));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus); // toolbar buttons never take the focus from the fields
    bar->addWidget(button);
    return button;
}

const QString kArqRelErr = QStringLiteral("O arquivo contendo a definição do relatório de código "
                                          "'%s' não foi encontrado no diretório '%s'.");

} // namespace

TfrmDadosGerRel::TfrmDadosGerRel(const QString &screenCode, const QString &reportCode,
                                 QWidget *parent)
    : QWidget(parent), m_screenCode(screenCode), m_reportCode(reportCode)
{
    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));
    msgPadrao->setMessages({QStringLiteral("Arq_Rel_Err|") + kArqRelErr,
                            QStringLiteral("NovoCaption|Título do relatório"),
                            QStringLiteral("NovoPrompt|Informe o título do relatório:")});
    msgMensagens = new TMessages(this);
    msgMensagens->setObjectName(QStringLiteral("msgMensagens"));
    msgMensagens->setMessages({
        QStringLiteral("Rel_Nao_Esc|Escolha o relatório."),
        QStringLiteral("Imp_Pdf|Imprimir em arquivo PDF"),
        QStringLiteral("Salvar_Como|Salvar Como"),
    });

    rpddPadrao = new TReportDesignerDialog(this);
    rpddPadrao->OnBeforeGetQueryParams = [this](fis::ReportParams &params, bool &flag) {
        rpddPadraoBeforeGetQueryParams(params, flag);
    };

    followSubWindow();

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);

    auto *top = new QHBoxLayout;
    tlbPadrao = new QToolBar(this);
    tlbPadrao->setObjectName(QStringLiteral("tlbPadrao"));
    sbtPrint =
        outputButton(tlbPadrao, "sbtPrint", QStringLiteral("Imprimir"), fis::ToolIcon::Print);
    sbtPreview = outputButton(tlbPadrao, "sbtPreview", QStringLiteral("Visualizar Impressão"),
                              fis::ToolIcon::Preview);
    sbtSalvarComo = outputButton(tlbPadrao, "sbtSalvarComo", QStringLiteral("Salvar Como"),
                                 fis::ToolIcon::SaveAs);
    sbtConfigImpress =
        outputButton(tlbPadrao, "sbtConfigImpress", QStringLiteral("Configurar Impressora"),
                     fis::ToolIcon::PrinterSetup);
    tlbPadrao->addSeparator();
    sbtFechar =
        outputButton(tlbPadrao, "sbtFechar", QStringLiteral("Fechar"), fis::ToolIcon::Close);
    tlbPadrao->addSeparator();
    top->addWidget(tlbPadrao, 1);
    lblCodTela = new QLabel(screenCode, this);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    lblCodRel = new QLabel(reportCode, this);
    lblCodRel->setObjectName(QStringLiteral("lblCodRel"));
    top->addWidget(lblCodRel);
    top->addSpacing(8);
    top->addWidget(lblCodTela);
    top->addSpacing(4);
    main->addLayout(top);

    panRelat = new QFrame(this);
    panRelat->setObjectName(QStringLiteral("panRelat"));
    panRelat->setFrameShape(QFrame::StyledPanel);
    m_reportPanelLayout = new QHBoxLayout(panRelat);
    cbbReportNames = new QComboBox(panRelat);
    cbbReportNames->setObjectName(QStringLiteral("cbbReportNames"));
    cbbReportNames->setMinimumContentsLength(30);
    m_reportPanelLayout->addWidget(cbbReportNames);
    main->addWidget(panRelat);

    pnlDados = new QFrame(this);
    pnlDados->setObjectName(QStringLiteral("pnlDados"));
    m_dataLayout = new QVBoxLayout(pnlDados);
    m_dataLayout->setContentsMargins(0, 0, 0, 0);
    main->addWidget(pnlDados, 1);

    const auto wire = [this](QToolButton *button, void (TfrmDadosGerRel::*handler)(QObject *)) {
        connect(button, &QToolButton::clicked, this,
                [this, button, handler] { fis::guarded([&] { (this->*handler)(button); }); });
    };
    wire(sbtPrint, &TfrmDadosGerRel::sbtPrintClick);
    wire(sbtPreview, &TfrmDadosGerRel::sbtPreviewClick);
    wire(sbtSalvarComo, &TfrmDadosGerRel::sbtSalvarComoClick);
    wire(sbtConfigImpress, &TfrmDadosGerRel::sbtConfigImpressClick);
    wire(sbtFechar, &TfrmDadosGerRel::sbtFecharClick);
}

TfrmDadosGerRel::~TfrmDadosGerRel() = default;

QString TfrmDadosGerRel::reportDir() const
{
    return m_reportDir.isEmpty() ? Quorvin::ReportDir() : m_reportDir;
}

void TfrmDadosGerRel::loadReportNames()
{
    const QSignalBlocker blocker(cbbReportNames);
    cbbReportNames->clear();
    const QStringList files = fis::reportDefinitionFiles(reportDir(), m_reportCode);
    for (const QString &file : files) {
        // A definition that does not read keeps its place in the list (the order of the reports
        // means something to the screens); running it then tells what is wrong with it.
        QString title = QFileInfo(file).completeBaseName();
        try {
            title = fis::ReportDefinition::load(file).title;
        } catch (const fis::ReportDefinitionError &) {
        }
        cbbReportNames->addItem(title, file);
    }
    if (files.isEmpty()) {
        const QString text = msgPadrao->contains(QStringLiteral("Arq_Rel_Err"))
                                 ? msgPadrao->Msg(QStringLiteral("Arq_Rel_Err"))
                                 : kArqRelErr;
        fis::HostUi::instance()->message(fis::MessageKind::Error,
                                         fillPlaceholders(text, {m_reportCode, reportDir()}), this);
    }
}

fis::ReportDefinition TfrmDadosGerRel::chosenReport()
{
    const int index = cbbReportNames->currentIndex();
    const QString file = index >= 0 ? cbbReportNames->itemData(index).toString() : QString();
    const QString code = file.isEmpty() ? m_reportCode : QFileInfo(file).completeBaseName();
    if (file.isEmpty() || !QFileInfo::exists(file)) {
        const QString text = msgPadrao->contains(QStringLiteral("Arq_Rel_Err"))
                                 ? msgPadrao->Msg(QStringLiteral("Arq_Rel_Err"))
                                 : kArqRelErr;
        Consiste::MensErro(fillPlaceholders(text, {code, reportDir()}), true);
    }
    return fis::ReportDefinition::load(file);
}

bool TfrmDadosGerRel::create()
{
    if (m_created)
        return !m_creationFailed;
    m_created = true;
    m_creating = true;
    const bool created = fis::guarded([this] { FormCreate(); });
    m_creating = false;
    const bool activate = m_activationPending;
    m_activationPending = false;
    if (created) {
        if (activate)
            fis::guarded([this] { FormActivate(); });
        return true;
    }
    // The failure has been told; the screen goes once the event that built it is over.
    m_creationFailed = true;
    QTimer::singleShot(0, this, [this] { closeScreen(); });
    return false;
}

void TfrmDadosGerRel::activate()
{
    // An activation before or during the creation (a progress window lets events through while
    // the creation waits on the server) runs once the creation is through.
    if (!m_created || m_creating) {
        m_activationPending = true;
        if (!m_created)
            create();
        return;
    }
    if (!m_creationFailed)
        fis::guarded([this] { FormActivate(); });
}

void TfrmDadosGerRel::FormCreate()
{
    loadReportNames();
}

void TfrmDadosGerRel::FormActivate() {}

void TfrmDadosGerRel::FormClose() {}

QPrinter *TfrmDadosGerRel::printer() const
{
    if (!m_printer) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setPageLayout(fis::defaultReportPageLayout());
        const_cast<TfrmDadosGerRel *>(this)->m_printer = std::move(printer);
    }
    return m_printer.get();
}

QString TfrmDadosGerRel::askFileName(const QString &caption)
{
    const QString suggested = QDir::home().filePath(m_reportCode + QStringLiteral(".pdf"));
    QString file = fileNameChooser()(this, caption, suggested);
    if (file.isEmpty())
        throw fis::EAbort{}; // the clerk cancelled: nothing is written, nothing follows
    if (QFileInfo(file).suffix().isEmpty())
        file += QStringLiteral(".pdf");
    return file;
}

void TfrmDadosGerRel::sbtPrintClick(QObject *)
{
    const fis::ReportListing listing = runChosenReport();
    QPrinter *p = printer();
    if (!m_printerChosen) {
        const QPrinterInfo standard = QPrinterInfo::defaultPrinter();
        if (!standard.isNull()) {
            p->setOutputFormat(QPrinter::NativeFormat);
            p->setPrinterName(standard.printerName());
        }
    }
    if (p->outputFormat() == QPrinter::NativeFormat && !p->printerName().isEmpty()) {
        p->setDocName(listing.title);
        const ReportProgress progress(this);
        TReportDesignerDialog::printListing(listing, p);
        return;
    }
    // No printer at all: the pages go to a PDF file.
    const QPageLayout layout = p->pageLayout();
    const QString file = askFileName(msgMensagens->Msg(QStringLiteral("Imp_Pdf")));
    const ReportProgress progress(this);
    TReportDesignerDialog::writePdf(listing, file, &layout);
}

void TfrmDadosGerRel::sbtPreviewClick(QObject *)
{
    const fis::ReportListing listing = runChosenReport();
    previewShower()(this, listing);
}

void TfrmDadosGerRel::sbtSalvarComoClick(QObject *)
{
    const QString file = askFileName(msgMensagens->Msg(QStringLiteral("Salvar_Como")));
    const fis::ReportListing listing = runChosenReport();
    const QPageLayout layout = printer()->pageLayout();
    const ReportProgress progress(this);
    TReportDesignerDialog::writePdf(listing, file, &layout);
}

fis::ReportListing TfrmDadosGerRel::runChosenReport()
{
    const fis::ReportDefinition definition = chosenReport();
    const ReportProgress progress(this);
    return rpddPadrao->run(definition);
}

void TfrmDadosGerRel::sbtConfigImpressClick(QObject *)
{
    QPrinter *p = printer();
    if (!QPrinterInfo::availablePrinters().isEmpty()) {
        QPrintDialog dialog(p, this);
        dialog.setWindowTitle(QStringLiteral("Configurar Impressora"));
        if (dialog.exec() == QDialog::Accepted)
            m_printerChosen = true;
        return;
    }
    // Without printers only the page of the PDF output can be set up (the toolkit's page set-up
    // dialog serves real printers only).
    p->setOutputFormat(QPrinter::PdfFormat);
    fis::PageSetupDialog dialog(p, this);
    dialog.exec();
}

void TfrmDadosGerRel::sbtFecharClick(QObject *)
{
    closeScreen();
}

void TfrmDadosGerRel::closeScreen()
{
    // The host shows the screen inside a sub-window: closing that closes the screen.
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
        sub->close();
    else
        close();
}

void TfrmDadosGerRel::rpddPadraoBeforeGetQueryParams(fis::ReportParams &, bool &) {}

TfrmDadosGerRel::FileNameChooser TfrmDadosGerRel::setFileNameChooser(FileNameChooser chooser)
{
    FileNameChooser previous = fileNameChooser();
    if (chooser)
        fileNameChooser() = std::move(chooser);
    return previous;
}

TfrmDadosGerRel::PreviewShower TfrmDadosGerRel::setPreviewShower(PreviewShower shower)
{
    PreviewShower previous = previewShower();
    if (shower)
        previewShower() = std::move(shower);
    return previous;
}

void TfrmDadosGerRel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_created)
        create();
}

void TfrmDadosGerRel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ParentChange)
        followSubWindow();
    // A screen that is its own window activates with its window.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_created &&
        !qobject_cast<QMdiSubWindow *>(parentWidget()))
        activate();
}

void TfrmDadosGerRel::followSubWindow()
{
    // Inside the host's workspace the screen activates with its sub-window, whether it was built
    // inside the frame or moved into it later.
    if (m_subWindowConnection)
        disconnect(m_subWindowConnection);
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
        m_subWindowConnection =
            connect(sub, &QMdiSubWindow::aboutToActivate, this, [this] { activate(); });
}

void TfrmDadosGerRel::closeEvent(QCloseEvent *event)
{
    // A close handler that refuses (aborts or fails) keeps the screen open.
    if (fis::guarded([this] { FormClose(); }))
        QWidget::closeEvent(event);
    else
        event->ignore();
}
