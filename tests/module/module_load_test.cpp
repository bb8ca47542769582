// The real module, loaded the way the host loads it (QLibrary, plain C entry points).
#include "data/packet.h"
#include "framework/quorvin.h"
#include "modaldriver.h"
#include "module/packageprotocol.h"
#include "quietui.h"
#include "testkit/fakeappserver.h"
#include "widgets/hostui.h"

#include <QFileInfo>
#include <QLibrary>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

#ifndef FIS_MODULE_FILE
#error "FIS_MODULE_FILE must name the module under test"
#endif

namespace {

using fis::test::clickWhenShown;
using fis::test::findTopLevel;

struct Module
{
    QLibrary library{QStringLiteral(FIS_MODULE_FILE)};
    FisProc initialize = nullptr;
    FisProc finalize = nullptr;
    FisProc iniProc = nullptr;
    FisBoolFunc criaFiltro = nullptr;
    FisPackageInfoFunc packageInfo = nullptr;
    FisSetFormFactoryFunc setFormFactory = nullptr;
    const char *version = nullptr;

    Module()
    {
        if (!library.load())
            return;
        initialize = reinterpret_cast<FisProc>(library.resolve("Initialize"));
        finalize = reinterpret_cast<FisProc>(library.resolve("Finalize"));
        iniProc = reinterpret_cast<FisProc>(library.resolve("IniProc"));
        criaFiltro = reinterpret_cast<FisBoolFunc>(library.resolve("CriaFiltroEmiPrevSocial"));
        packageInfo = reinterpret_cast<FisPackageInfoFunc>(library.resolve("GetPackageInfoTable"));
        setFormFactory = reinterpret_cast<FisSetFormFactoryFunc>(library.resolve("SetFormFactory"));
        version = reinterpret_cast<const char *>(library.resolve("PKG_FIS02900_Version"));
    }
    bool complete() const
    {
        return initialize && finalize && iniProc && criaFiltro && packageInfo && setFormFactory &&
               version;
    }
};

Module &module()
{
    static Module m; // loaded once per process, never unloaded while windows may exist
    return m;
}

QList<QWidget *> screens()
{
    QList<QWidget *> found;
    for (QWidget *w : QApplication::allWidgets()) {
        if (w->objectName() == QLatin1String("frmEmiPrevSocial"))
            found.append(w);
    }
    return found;
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

using RecordingUi = fis::test::QuietUi;

// A host with an MDI main window, as fis-host has; the factory can be told to refuse.
struct MdiHost
{
    QMainWindow window;
    QMdiArea *mdi = new QMdiArea;
    bool refuse = false;
    static inline MdiHost *current = nullptr;

    MdiHost()
    {
        window.setCentralWidget(mdi);
        window.show();
        current = this;
    }
    ~MdiHost() { current = nullptr; }

    static QWidget *factory(const FisFormRequest *request)
    {
        MdiHost *host = current;
        if (!host || host->refuse)
            return nullptr;
        if (request->kind != FisChildScreen)
            return request->construct(&host->window, request->context);
        auto *sub = new QMdiSubWindow;
        sub->setAttribute(Qt::WA_DeleteOnClose);
        QWidget *form = request->construct(sub, request->context);
        sub->setWidget(form);
        host->mdi->addSubWindow(sub);
        QObject::connect(form, &QObject::destroyed, sub, &QObject::deleteLater);
        return form;
    }
};

class ModuleLoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module().library.isLoaded()) << qPrintable(module().library.errorString());
        ASSERT_TRUE(module().complete());
        previousUi = fis::HostUi::install(&ui);
        // The emission screen loads the fiscal parameters as it is built: without them it
        // refuses to open.
        server.declare(QStringLiteral("GetParamFiscal"), {});
        server.setDefaultAnswer(
            QStringLiteral("GetParamFiscal"),
            fis::FakeAppServer::Answer::value(fis::makePacket(fis::buildPacket(
                {{"IDGERCONPAGGUIA", fis::FieldType::String, 1}}, {{QStringLiteral("N")}}))));
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        fis::LoginValues login = Quorvin::login();
        login.webUrl = server.host();
        login.webPort = server.port();
        Quorvin::setLogin(login);
        module().setFormFactory(nullptr);
        module().initialize();
    }
    void TearDown() override
    {
        module().finalize();
        module().setFormFactory(nullptr);
        settle();
        fis::HostUi::install(previousUi);
        EXPECT_TRUE(screens().isEmpty()) << "Finalize must destroy the module's windows";
        EXPECT_EQ(findTopLevel(QStringLiteral("frmFiltroEmiPrev")), nullptr);
    }
    RecordingUi ui;
    fis::HostUi *previousUi = nullptr;
    fis::FakeAppServer server;
};

TEST_F(ModuleLoadTest, PackageInfoListsUnitsInInitOrderAndVersion)
{
    const FisPackageInfo *info = module().packageInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->packageName, "PKG_FIS02900");
    EXPECT_STREQ(info->version, "6.10.040");
    EXPECT_STREQ(info->fileVersion, "6.10.40.0");
    EXPECT_STREQ(module().version, "6.10.040");
    ASSERT_EQ(info->unitCount, 3);
    EXPECT_STREQ(info->units[0].name, "Pkg_Fis02900");
    EXPECT_STREQ(info->units[1].name, "Cli_Fis02900");
    EXPECT_STREQ(info->units[2].name, "Cli_Fis02910");

    // Every host library the module is linked against is declared as required.
    QStringList required;
    for (int i = 0; i < info->requiredCount; ++i)
        required.append(QString::fromLatin1(info->requiredModules[i]));
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"),
                  {QStringLiteral("-d"), QStringLiteral(FIS_MODULE_FILE)});
    if (!readelf.waitForFinished(10000) || readelf.exitCode() != 0)
        GTEST_SKIP() << "readelf unavailable";
    const QString dynamic = QString::fromLocal8Bit(readelf.readAllStandardOutput());
    static const QRegularExpression needed(QStringLiteral(R"(\[lib((?:Qt6|fis_)\w+)\.so)"));
    int checked = 0;
    for (auto it = needed.globalMatch(dynamic); it.hasNext(); ++checked) {
        const QString lib = it.next().captured(1);
        EXPECT_TRUE(required.contains(lib)) << "not declared: " << qPrintable(lib);
    }
    EXPECT_GE(checked, 4);
}

TEST_F(ModuleLoadTest, IniProcTwiceShowsOneMaximisedScreenAndCloseLetsAFreshOneBeCreated)
{
    module().iniProc();
    module().iniProc();
    settle();
    QList<QWidget *> found = screens();
    ASSERT_EQ(found.size(), 1);
    QPointer<QWidget> first = found.first();
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Emissão Guia da Previdência Social"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass must be restored";

    // A third call on a minimised screen brings it back maximised.
    first->setWindowState(Qt::WindowMinimized);
    module().iniProc();
    EXPECT_TRUE(first->windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(first->windowState() & Qt::WindowMinimized);

    ASSERT_TRUE(first->close());
    settle();
    EXPECT_TRUE(first.isNull()) << "a closed screen is ended, not kept hidden";
    EXPECT_TRUE(screens().isEmpty());

    module().iniProc();
    settle();
    found = screens();
    ASSERT_EQ(found.size(), 1);
    EXPECT_TRUE(found.first()->isVisible());
    EXPECT_TRUE(found.first()->windowState() & Qt::WindowMaximized);
}

TEST_F(ModuleLoadTest, ScreenOpensAsMaximisedChildWindowOfTheHostWithItsMenu)
{
    MdiHost host;
    module().setFormFactory(&MdiHost::factory);
    module().iniProc();
    module().iniProc();
    settle();
    ASSERT_EQ(host.mdi->subWindowList().size(), 1);
    QMdiSubWindow *sub = host.mdi->subWindowList().first();
    ASSERT_NE(sub->widget(), nullptr);
    EXPECT_EQ(sub->widget()->objectName(), QStringLiteral("frmEmiPrevSocial"));
    EXPECT_TRUE(sub->isMaximized());
    EXPECT_TRUE(sub->isVisible());

    auto *menu = sub->widget()->findChild<QMenuBar *>(QStringLiteral("mnuMenu"));
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("&Operação"));
    EXPECT_EQ(menu->actions().first()->property("mergeGroup").toInt(), 8);

    // Closing the frame ends the screen; the next call builds a fresh one in a new frame.
    ASSERT_TRUE(sub->close());
    settle();
    EXPECT_TRUE(host.mdi->subWindowList().isEmpty());
    module().iniProc();
    settle();
    ASSERT_EQ(host.mdi->subWindowList().size(), 1);
    EXPECT_TRUE(host.mdi->subWindowList().first()->isMaximized());

    // The screen's own close item ends it together with its frame.
    QAction *fechar = host.mdi->subWindowList().first()->widget()->findChild<QAction *>(
        QStringLiteral("mnuFechar"));
    ASSERT_NE(fechar, nullptr);
    fechar->trigger();
    settle();
    EXPECT_TRUE(host.mdi->subWindowList().isEmpty());
    EXPECT_TRUE(screens().isEmpty());

    // Finalize destroys the windows still open, frames included.
    module().iniProc();
    settle();
    ASSERT_EQ(host.mdi->subWindowList().size(), 1);
    module().finalize();
    settle();
    EXPECT_TRUE(host.mdi->subWindowList().isEmpty());
    module().initialize();
}

TEST_F(ModuleLoadTest, RefusedFormIsReportedAndNothingIsLeftHalfCreated)
{
    MdiHost host;
    host.refuse = true;
    module().setFormFactory(&MdiHost::factory);
    module().iniProc();
    settle();
    EXPECT_TRUE(screens().isEmpty());
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.first().contains(QStringLiteral("TfrmEmiPrevSocial")));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    host.refuse = false;
    module().iniProc();
    settle();
    EXPECT_EQ(host.mdi->subWindowList().size(), 1);
}

TEST_F(ModuleLoadTest, FilterDialogIsCreatedOnceHiddenOnCloseAndAnswersBoConfirma)
{
    // The dialog serves the emission screen.
    module().iniProc();
    settle();
    auto cancel = clickWhenShown(QStringLiteral("frmFiltroEmiPrev"), QStringLiteral("sbtCancel"));
    EXPECT_FALSE(module().criaFiltro()) << "cancel at first use";
    EXPECT_TRUE(cancel->clicked);
    EXPECT_FALSE(cancel->gaveUp);
    QPointer<QWidget> dialog = findTopLevel(QStringLiteral("frmFiltroEmiPrev"));
    ASSERT_FALSE(dialog.isNull());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(),
              QStringLiteral("Filtro de Emissão da Guia da Previdência Social"));

    // A confirm attempt for an invoice report counts even when its checks refuse it (no tax
    // here) and the clerk then cancels.
    auto confirm =
        clickWhenShown(QStringLiteral("frmFiltroEmiPrev"),
                       QStringList{QStringLiteral("sbtConfirma"), QStringLiteral("sbtCancel")});
    EXPECT_TRUE(module().criaFiltro()) << "an invoice filter confirm was attempted";
    EXPECT_TRUE(confirm->clicked);
    EXPECT_FALSE(confirm->gaveUp);

    // Once confirmed it keeps answering true, cancelled or not; the instance is reused.
    cancel = clickWhenShown(QStringLiteral("frmFiltroEmiPrev"), QStringLiteral("sbtCancel"));
    EXPECT_TRUE(module().criaFiltro());
    EXPECT_TRUE(cancel->clicked);
    EXPECT_EQ(findTopLevel(QStringLiteral("frmFiltroEmiPrev")), dialog.data());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ModuleLoadTest, InitialisationIsCountedAndOnlyTheLastFinalizeEndsTheWindows)
{
    module().initialize(); // second initialisation
    module().iniProc();
    settle();
    module().finalize(); // not the last one
    settle();
    EXPECT_EQ(screens().size(), 1);
    // TearDown runs the last Finalize, which must destroy the screen.
}

} // namespace
