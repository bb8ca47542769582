// The module's units linked in directly, so that their state can be examined.
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "package/Pkg_Fis02900.h"
#include "quietui.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// No message box may block these tests.
class QuietEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { previous = fis::HostUi::install(&ui); }
    void TearDown() override { fis::HostUi::install(previous); }
    fis::test::QuietUi ui;
    fis::HostUi *previous = nullptr;
};
[[maybe_unused]] ::testing::Environment *const quietEnvironment =
    ::testing::AddGlobalTestEnvironment(new QuietEnvironment);

TEST(ModuleUnits, OnlyTheLastFinalizeClearsTheUnitTextsAndEndsTheWindows)
{
    Initialize();
    Initialize();
    CriaEmiPrevSocial();
    ASSERT_FALSE(frmEmiPrevSocial.isNull());
    EXPECT_TRUE(boStCriado);
    stFilial = QStringLiteral("_0001_0002_");
    stLancamento = QStringLiteral("_10_11_");
    stNrMapa = QStringLiteral("_12_15_");
    stStatus = QStringLiteral("P");

    Finalize();
    EXPECT_EQ(stFilial, QStringLiteral("_0001_0002_"));
    EXPECT_EQ(stStatus, QStringLiteral("P"));
    EXPECT_FALSE(frmEmiPrevSocial.isNull());

    Finalize();
    EXPECT_TRUE(stFilial.isEmpty());
    EXPECT_TRUE(stLancamento.isEmpty());
    EXPECT_TRUE(stNrMapa.isEmpty());
    EXPECT_TRUE(stStatus.isEmpty());
    EXPECT_TRUE(frmEmiPrevSocial.isNull());
    EXPECT_FALSE(boStCriado);
    EXPECT_EQ(fis::Cli_fis02900::initCount(), 0);
    EXPECT_EQ(fis::Cli_fis02910::initCount(), 0);

    // A Finalize too many does nothing harmful.
    stFilial = QStringLiteral("_9_");
    Finalize();
    EXPECT_EQ(fis::Cli_fis02900::initCount(), 0);
}

TEST(ModuleUnits, ClosingTheScreenClearsBoStCriadoAndDropsTheConnection)
{
    Initialize();
    CriaEmiPrevSocial();
    ASSERT_FALSE(frmEmiPrevSocial.isNull());
    QPointer<TfrmEmiPrevSocial> screen = frmEmiPrevSocial;
    screen->netEmisGuiaPrev->setConnected(true);
    ASSERT_TRUE(screen->close());
    EXPECT_FALSE(boStCriado);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(screen.isNull());
    EXPECT_TRUE(frmEmiPrevSocial.isNull());
    Finalize();
}

TEST(ModuleUnits, ConnectionTakesServerAddressFromTheLoginValues)
{
    fis::LoginValues login = Quorvin::login();
    login.webUrl = QStringLiteral("10.1.2.3");
    login.webPort = 9911;
    login.authToken = QStringLiteral("segredo");
    Quorvin::setLogin(login);
    Initialize();
    CriaEmiPrevSocial();
    ASSERT_FALSE(frmEmiPrevSocial.isNull());
    TNetConnection *net = frmEmiPrevSocial->netEmisGuiaPrev;
    EXPECT_EQ(net->objectName(), QStringLiteral("netEmisGuiaPrev"));
    EXPECT_EQ(net->serverName(), QStringLiteral("Fis02900.rdmEmisGuiaPrv"));
    EXPECT_FALSE(net->throwException());
    net->disconnect();
    net->setConnected(true); // runs the before-connect event
    EXPECT_EQ(net->host(), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(net->port(), 9911);
    EXPECT_EQ(net->authToken(), QStringLiteral("segredo"));
    Finalize();
}

TEST(ModuleUnits, LanguageResourceSitsBesideTheModuleNamedByLocale)
{
    EXPECT_EQ(fis::package::languageResourcePath(QStringLiteral("/opt/fis/bin/libPKG_FIS02900.so"),
                                                 QStringLiteral("pt_BR")),
              QStringLiteral("/opt/fis/bin/PKG_FIS02900_pt_BR.qm"));
    EXPECT_TRUE(fis::package::languageResourcePath(QString(), QStringLiteral("pt_BR")).isEmpty());
}

} // namespace
