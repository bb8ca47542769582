#include "app/mainwindow.h"

#include "widgets/errorguard.h"
#include "widgets/hostui.h"

#include <QAction>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

namespace fis {

namespace {

// Groups of the host's own main-menu items; a screen's menus (group 8) sit between them.
constexpr int kFiscalGroup = 0;
constexpr int kSairGroup = 9;

} // namespace

MainWindow *MainWindow::s_instance = nullptr;

MainWindow::MainWindow(const HostSettings &settings, QWidget *parent)
    : QMainWindow(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Fiscal"));
    resize(1024, 700);

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);

    menuBar()->setNativeMenuBar(false);
    m_fiscal = menuBar()->addMenu(QStringLiteral("&Fiscal"));
    m_fiscal->setObjectName(QStringLiteral("mnuFiscal"));
    m_fiscal->menuAction()->setProperty("mergeGroup", kFiscalGroup);
    QAction *gps = m_fiscal->addAction(QStringLiteral("FIS02900 - Emissão de GPS"));
    gps->setObjectName(QStringLiteral("mnuFIS02900"));
    connect(gps, &QAction::triggered, this, [this] { openScreen(QLatin1String(kScreenFis02900)); });
    m_sair = menuBar()->addAction(QStringLiteral("&Sair"));
    m_sair->setObjectName(QStringLiteral("mnuSair"));
    m_sair->setProperty("mergeGroup", kSairGroup);
    connect(m_sair, &QAction::triggered, this, &QWidget::close);

    m_workspace = new ScreenWorkspace(this, m_mdi, this);

    s_instance = this;
}

MainWindow::~MainWindow()
{
    m_loader.unload();
    if (s_instance == this)
        s_instance = nullptr;
}

bool MainWindow::openScreen(const QString &code)
{
    return guarded([&] {
        if (code != QLatin1String(kScreenFis02900)) {
            HostUi::instance()->message(MessageKind::Error,
                                        QStringLiteral("Tela desconhecida: %1").arg(code), this);
            return;
        }
        QString error;
        if (!m_loader.load(m_settings.modulePath, &MainWindow::formFactory, &error)) {
            HostUi::instance()->message(MessageKind::Error, error, this);
            return;
        }
        m_loader.open();
    });
}

QWidget *MainWindow::formFactory(const FisFormRequest *request)
{
    return s_instance && request ? s_instance->createForm(*request) : nullptr;
}

QWidget *MainWindow::createForm(const FisFormRequest &request)
{
    return m_workspace->createForm(request);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Screens may refuse to close; the host only ends when all of them agreed.
    m_mdi->closeAllSubWindows();
    for (QMdiSubWindow *sub : m_mdi->subWindowList()) {
        if (sub->isVisible()) {
            event->ignore();
            return;
        }
    }
    m_workspace->unmergeMenus();
    m_loader.unload();
    event->accept();
}

} // namespace fis
