// The host's main window with the real module: screen as a maximised MDI child, its menus
// merged into the main menu bar while it is there, the module unloaded when the host closes.
#include "app/mainwindow.h"
#include "data/packet.h"
#include "module/quietui.h"
#include "testkit/fakeappserver.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList menuTitles(QMenuBar *bar)
{
    QStringList titles;
    for (QAction *a : bar->actions())
        titles.append(a->text());
    return titles;
}

using QuietUi = fis::test::QuietUi;

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

TEST(HostMainWindow, OpensTheScreenAsMaximisedChildMergesItsMenusAndUnloadsOnClose)
{
    QuietUi ui;
    fis::HostUi *previous = fis::HostUi::install(&ui);
    const auto restore = qScopeGuard([previous] { fis::HostUi::install(previous); });
    // One report definition, so that the screen has its report list.
    QTemporaryDir reports;
    ASSERT_TRUE(reports.isValid());
    QFile definition(reports.filePath("FIS029_01.json"));
    ASSERT_TRUE(definition.open(QIODevice::WriteOnly));
    definition.write(R"({"title": "GPS - Saída", "sql": "SELECT 1 AS A"})");
    definition.close();
    // The screen loads the fiscal parameters when it is created.
    fis::FakeAppServer server;
    server.declare(QStringLiteral("GetParamFiscal"), {});
    server.setDefaultAnswer(
        QStringLiteral("GetParamFiscal"),
        fis::FakeAppServer::Answer::value(fis::makePacket(fis::buildPacket(
            {{"IDGERCONPAGGUIA", fis::FieldType::String, 1}}, {{QStringLiteral("N")}}))));
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    fis::HostSettings settings;
    settings.login.reportDir = reports.path();
    settings.login.webUrl = server.host();
    settings.login.webPort = server.port();
    Quorvin::setLogin(settings.login);
    settings.modulePath = QStringLiteral(FIS_MODULE_FILE);
    fis::MainWindow window(settings);
    window.show();
    EXPECT_EQ(menuTitles(window.menuBar()), (QStringList{"&Fiscal", "&Sair"}));

    QAction *gps = window.findChild<QAction *>("mnuFIS02900");
    ASSERT_NE(gps, nullptr);
    EXPECT_EQ(gps->text(), QStringLiteral("FIS02900 - Emissão de GPS"));
    gps->trigger();
    gps->trigger();
    settle();
    ASSERT_TRUE(window.loader().isLoaded());
    ASSERT_EQ(window.mdiArea()->subWindowList().size(), 1);
    QMdiSubWindow *sub = window.mdiArea()->subWindowList().first();
    EXPECT_EQ(sub->widget()->objectName(), "frmEmiPrevSocial");
    EXPECT_TRUE(sub->isMaximized());
    EXPECT_EQ(menuTitles(window.menuBar()),
              (QStringList{"&Fiscal", "&Operação", "&Manutenção", "&Sair"}));

    // The screen's menus leave with it.
    ASSERT_TRUE(sub->close());
    settle();
    EXPECT_EQ(menuTitles(window.menuBar()), (QStringList{"&Fiscal", "&Sair"}));

    EXPECT_TRUE(window.openScreen("FIS02900"));
    settle();
    ASSERT_EQ(window.mdiArea()->subWindowList().size(), 1);
    ASSERT_TRUE(window.close());
    settle();
    EXPECT_FALSE(window.loader().isLoaded());
    EXPECT_TRUE(window.mdiArea()->subWindowList().isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty()) << qPrintable(ui.messages.join('\n'));
}

TEST(HostMainWindow, MissingModuleIsReportedNotFatal)
{
    fis::HostSettings settings;
    settings.modulePath = QStringLiteral("/nonexistent/libPKG_FIS02900.so");
    fis::MainWindow window(settings);
    fis::ModuleLoader &loader = window.loader();
    QString error;
    EXPECT_FALSE(loader.load(settings.modulePath, nullptr, &error));
    EXPECT_TRUE(error.contains("/nonexistent/libPKG_FIS02900.so"));
    EXPECT_FALSE(loader.isLoaded());
    EXPECT_FALSE(loader.open());
}

} // namespace
