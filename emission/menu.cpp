// The emission screen's menu, merged into the host's main menu, and the toolbar handlers it
// forwards to.
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

namespace {
// The host merges the menus of the screen's menu bar into its main menu, by this group.
constexpr int kMenuMergeGroup = 8;
} // namespace

void TfrmEmiPrevSocial::createMenu()
{
    mnuMenu = new QMenuBar(this);
    mnuMenu->setObjectName(QStringLiteral("mnuMenu"));
    mnuMenu->setNativeMenuBar(false);
    mnuMenu->hide(); // shown through the host's main menu

    const auto item = [this](QMenu *menu, const char *name, const QString &caption,
                             const QKeySequence &shortcut, bool enabled,
                             void (TfrmEmiPrevSocial::*handler)()) {
        auto *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this,
                [this, handler] { fis::guarded([this, handler] { (this->*handler)(); }); });
        return action;
    };
    const auto separator = [](QMenu *menu, const char *name) {
        auto *action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    mnuOperac = mnuMenu->addMenu(QStringLiteral("&Operação"));
    mnuOperac->setObjectName(QStringLiteral("mnuOperac"));
    mnuOperac->menuAction()->setObjectName(QStringLiteral("mnuOperac"));
    mnuImprimir =
        item(mnuOperac, "mnuImprimir", QStringLiteral("&Imprimir"),
             QKeySequence(Qt::CTRL | Qt::Key_I), false, &TfrmEmiPrevSocial::mnuImprimirClick);
    mnuVisualizar =
        item(mnuOperac, "mnuVisualizar", QStringLiteral("&Visualizar Impressão"),
             QKeySequence(Qt::CTRL | Qt::Key_P), false, &TfrmEmiPrevSocial::mnuVisualizarClick);
    mnuSalvarComo =
        item(mnuOperac, "mnuSalvarComo", QStringLiteral("&Salvar Como"),
             QKeySequence(Qt::CTRL | Qt::Key_S), false, &TfrmEmiPrevSocial::mnuSalvarComoClick);
    mnuConfigImpress =
        item(mnuOperac, "mnuConfigImpress", QStringLiteral("&Configurar Impressora"),
             QKeySequence(Qt::CTRL | Qt::Key_F), true, &TfrmEmiPrevSocial::mnuConfigImpressClick);
    N2 = separator(mnuOperac, "N2");
    mnuFechar = item(mnuOperac, "mnuFechar", QStringLiteral("Fecha&r"),
                     QKeySequence(Qt::CTRL | Qt::Key_F4), true, &TfrmEmiPrevSocial::mnuFecharClick);

    mnuManutencao = mnuMenu->addMenu(QStringLiteral("&Manutenção"));
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    mnuManutencao->menuAction()->setObjectName(QStringLiteral("mnuManutencao"));
    mnuAtualizar = item(mnuManutencao, "mnuAtualizar", QStringLiteral("&Atualizar"),
                        QKeySequence(Qt::Key_F5), true, &TfrmEmiPrevSocial::mnuAtualizarClick);
    mnuAtualizar->setStatusTip(QStringLiteral("Atualizar"));
    mnuProcurar = item(mnuManutencao, "mnuProcurar", QStringLiteral("&Procurar"),
                       QKeySequence(Qt::Key_F6), true, &TfrmEmiPrevSocial::mnuProcurarClick);
    mnuProcurar->setStatusTip(QStringLiteral("Procurar"));
    N1 = separator(mnuManutencao, "N1");
    mnuFiltro = item(mnuManutencao, "mnuFiltro", QStringLiteral("&Filtrar Notas"),
                     QKeySequence(Qt::CTRL | Qt::Key_L), true, &TfrmEmiPrevSocial::mnuFiltroClick);

    for (QMenu *menu : {mnuOperac, mnuManutencao})
        menu->menuAction()->setProperty("mergeGroup", kMenuMergeGroup);
}

void TfrmEmiPrevSocial::mnuImprimirClick()
{
    sbtPrintClick(sbtPrint);
}

void TfrmEmiPrevSocial::mnuVisualizarClick()
{
    sbtPreviewClick(sbtPreview);
}

void TfrmEmiPrevSocial::mnuSalvarComoClick()
{
    sbtSalvarComoClick(sbtSalvarComo);
}

void TfrmEmiPrevSocial::mnuConfigImpressClick()
{
    sbtConfigImpress->click();
}

void TfrmEmiPrevSocial::mnuFecharClick()
{
    sbtFechar->click();
}

void TfrmEmiPrevSocial::mnuAtualizarClick()
{
    sbtVerificarClick();
}

void TfrmEmiPrevSocial::mnuProcurarClick()
{
    sbtProcurarClick();
}

void TfrmEmiPrevSocial::mnuFiltroClick()
{
    sbtFiltro->click();
}

void TfrmEmiPrevSocial::sbtProcurarClick()
{
    if (reportIndex() == 2)
        Procura(cdsFunRural, this);
    else if (stOperacao == QLatin1String("S"))
        Procura(cdsAprov, this);
    else if (stOperacao == QLatin1String("E"))
        Procura(cdsAprovAgrup, this);
}
