#include "emission/Cli_fis02900.h"

#include "package/Pkg_Fis02900.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QToolButton>

QPointer<TfrmEmiPrevSocial> frmEmiPrevSocial;
bool boStCriado = false;
QString stFilial;
QString stLancamento;
QString stNrMapa;

namespace {
int g_initCount = 0;
// The host merges the menus of the screen's menu bar into its main menu, by this group.
constexpr int kMenuMergeGroup = 8;
} // namespace

TfrmEmiPrevSocial::TfrmEmiPrevSocial(QWidget *parent)
    : TfrmDadosGerRel(QStringLiteral("FIS02900"), QStringLiteral("FIS029"), parent)
{
    setObjectName(QStringLiteral("frmEmiPrevSocial"));
    setWindowTitle(QStringLiteral("Emissão Guia da Previdência Social"));
    // Closing the screen ends it: the next IniProc creates a fresh one.
    setAttribute(Qt::WA_DeleteOnClose);
    resize(841, 377);

    netEmisGuiaPrev = new TNetConnection(this);
    netEmisGuiaPrev->setObjectName(QStringLiteral("netEmisGuiaPrev"));
    netEmisGuiaPrev->setServerName(QString::fromLatin1(fis::rdmEmisGuiaPrv::kServerName));
    netEmisGuiaPrev->setThrowException(false);
    netEmisGuiaPrev->setBeforeConnect(
        [this](TNetConnection *sender) { netEmisGuiaPrevBeforeConnect(sender); });

    createMenu();
}

TfrmEmiPrevSocial::~TfrmEmiPrevSocial() = default;

void TfrmEmiPrevSocial::createMenu()
{
    mnuMenu = new QMenuBar(this);
    mnuMenu->setObjectName(QStringLiteral("mnuMenu"));
    mnuMenu->setNativeMenuBar(false);
    mnuMenu->hide(); // shown through the host's main menu

    auto item = [this](QMenu *menu, const char *name, const QString &caption,
                       const QKeySequence &shortcut, bool enabled) {
        auto *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        action->setEnabled(enabled);
        return action;
    };
    auto separator = [](QMenu *menu, const char *name) {
        auto *action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    mnuOperac = mnuMenu->addMenu(QStringLiteral("&Operação"));
    mnuOperac->setObjectName(QStringLiteral("mnuOperac"));
    mnuOperac->menuAction()->setObjectName(QStringLiteral("mnuOperac"));
    mnuImprimir = item(mnuOperac, "mnuImprimir", QStringLiteral("&Imprimir"),
                       QKeySequence(Qt::CTRL | Qt::Key_I), false);
    mnuVisualizar = item(mnuOperac, "mnuVisualizar", QStringLiteral("&Visualizar Impressão"),
                         QKeySequence(Qt::CTRL | Qt::Key_P), false);
    mnuSalvarComo = item(mnuOperac, "mnuSalvarComo", QStringLiteral("&Salvar Como"),
                         QKeySequence(Qt::CTRL | Qt::Key_S), false);
    mnuConfigImpress = item(mnuOperac, "mnuConfigImpress", QStringLiteral("&Configurar Impressora"),
                            QKeySequence(Qt::CTRL | Qt::Key_F), true);
    N2 = separator(mnuOperac, "N2");
    mnuFechar = item(mnuOperac, "mnuFechar", QStringLiteral("Fecha&r"),
                     QKeySequence(Qt::CTRL | Qt::Key_F4), true);

    mnuManutencao = mnuMenu->addMenu(QStringLiteral("&Manutenção"));
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    mnuManutencao->menuAction()->setObjectName(QStringLiteral("mnuManutencao"));
    mnuAtualizar = item(mnuManutencao, "mnuAtualizar", QStringLiteral("&Atualizar"),
                        QKeySequence(Qt::Key_F5), true);
    mnuAtualizar->setStatusTip(QStringLiteral("Atualizar"));
    mnuProcurar = item(mnuManutencao, "mnuProcurar", QStringLiteral("&Procurar"),
                       QKeySequence(Qt::Key_F6), true);
    mnuProcurar->setStatusTip(QStringLiteral("Procurar"));
    N1 = separator(mnuManutencao, "N1");
    mnuFiltro = item(mnuManutencao, "mnuFiltro", QStringLiteral("&Filtrar Notas"),
                     QKeySequence(Qt::CTRL | Qt::Key_L), true);

    for (QMenu *menu : {mnuOperac, mnuManutencao})
        menu->menuAction()->setProperty("mergeGroup", kMenuMergeGroup);

    // Menu items that click the base screen's buttons.
    connect(mnuConfigImpress, &QAction::triggered, this,
            [this] { fis::guarded([this] { sbtConfigImpress->click(); }); });
    connect(mnuFechar, &QAction::triggered, this,
            [this] { fis::guarded([this] { sbtFechar->click(); }); });
}

void TfrmEmiPrevSocial::FormCreate()
{
    TfrmDadosGerRel::FormCreate();
    netEmisGuiaPrev->setConnected(true);
}

void TfrmEmiPrevSocial::FormClose()
{
    TfrmDadosGerRel::FormClose();
    boStCriado = false;
    netEmisGuiaPrev->disconnect();
}

void TfrmEmiPrevSocial::netEmisGuiaPrevBeforeConnect(TNetConnection *sender)
{
    sender->setPort(Quorvin::WebPort());
    sender->setHost(Quorvin::WebURL());
    sender->setAuthToken(Quorvin::AuthToken());
}

int TfrmEmiPrevSocial::reportIndex() const
{
    return cbbReportNames ? cbbReportNames->currentIndex() : -1;
}

void CriaEmiPrevSocial()
{
    fis::guarded([] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        if (!boStCriado || !frmEmiPrevSocial) {
            frmEmiPrevSocial = fis::package::createForm<TfrmEmiPrevSocial>(FisChildScreen);
            boStCriado = true;
        }
        fis::package::showMaximized(frmEmiPrevSocial);
    });
}

void IniProc()
{
    CriaEmiPrevSocial();
}

namespace fis::Cli_fis02900 {

void initialization()
{
    ++g_initCount;
}

void finalization()
{
    if (g_initCount == 0 || --g_initCount > 0)
        return;
    stFilial.clear();
    stLancamento.clear();
    stNrMapa.clear();
    // The screen's code lives in this module: it must not outlive it.
    fis::package::destroyForm(frmEmiPrevSocial);
    frmEmiPrevSocial = nullptr;
    boStCriado = false;
}

int initCount()
{
    return g_initCount;
}

} // namespace fis::Cli_fis02900
