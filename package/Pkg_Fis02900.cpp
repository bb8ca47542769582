#include "package/Pkg_Fis02900.h"

#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "widgets/errorguard.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTranslator>
#include <QWidget>

#include <dlfcn.h>

#include <exception>
#include <memory>
#include <stdexcept>

const char PKG_FIS02900_Version[] = "6.10.040";

namespace {

FisFormFactory g_formFactory = nullptr;
int g_pkgInitCount = 0;

// ---- package description ------------------------------------------------------------------

const FisPackageUnit kUnits[] = {{"Pkg_Fis02900"}, {"Cli_Fis02900"}, {"Cli_Fis02910"}};

// Runtime library, user-interface toolkit, database classes, report engine (printing), and the
// four host framework libraries.
const char *const kRequired[] = {"Qt6Core", "Qt6Gui",          "Qt6Widgets",
                                 "Qt6Sql",  "Qt6PrintSupport", "fis_data",
                                 "fis_net", "fis_widgets",     "fis_framework"};

const FisPackageInfo kPackageInfo = {
    "PKG_FIS02900", PKG_FIS02900_Version,      "6.10.40.0", int(std::size(kUnits)),
    kUnits,         int(std::size(kRequired)), kRequired,
};

// ---- units --------------------------------------------------------------------------------

struct Unit
{
    void (*initialization)();
    void (*finalization)();
};

void pkgInitialization()
{
    ++g_pkgInitCount;
}

void pkgFinalization()
{
    if (g_pkgInitCount > 0)
        --g_pkgInitCount;
}

const Unit kUnitProcs[] = {
    {pkgInitialization, pkgFinalization},
    {fis::Cli_fis02900::initialization, fis::Cli_fis02900::finalization},
    {fis::Cli_fis02910::initialization, fis::Cli_fis02910::finalization},
};
static_assert(std::size(kUnitProcs) == std::size(kUnits));

// ---- module attach / detach ---------------------------------------------------------------

QString moduleFileName()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void *>(&GetPackageInfoTable), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}

// The optional language-resource module: a translation file beside the module, for the
// program's locale, loaded when the module is attached and released when it is detached.
class LanguageResource
{
public:
    LanguageResource()
    {
        if (!QCoreApplication::instance())
            return;
        const QString file = fis::package::languageResourcePath(moduleFileName(), QLocale().name());
        if (file.isEmpty() || !QFileInfo::exists(file))
            return;
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(file) && QCoreApplication::installTranslator(translator.get()))
            m_translator = translator.release();
    }
    ~LanguageResource()
    {
        if (m_translator && QCoreApplication::instance())
            QCoreApplication::removeTranslator(m_translator);
        delete m_translator;
    }
    LanguageResource(const LanguageResource &) = delete;
    LanguageResource &operator=(const LanguageResource &) = delete;

private:
    QTranslator *m_translator = nullptr;
};

const LanguageResource g_languageResource;

// ---- form factory -------------------------------------------------------------------------

struct ConstructContext
{
    const std::function<QWidget *(QWidget *)> *construct;
    QWidget *built = nullptr;
    std::exception_ptr error;
};

QWidget *constructTrampoline(QWidget *parent, void *context)
{
    auto *ctx = static_cast<ConstructContext *>(context);
    if (ctx->built || ctx->error)
        return nullptr; // a factory must build the form once
    try {
        ctx->built = (*ctx->construct)(parent);
    } catch (...) {
        ctx->error = std::current_exception();
    }
    return ctx->built;
}

} // namespace

namespace fis::package {

QWidget *createForm(const char *formClass, FisFormKind kind,
                    const std::function<QWidget *(QWidget *parent)> &construct)
{
    if (!g_formFactory)
        return construct(nullptr);
    ConstructContext ctx{&construct, nullptr, {}};
    const FisFormRequest request{formClass, kind, constructTrampoline, &ctx};
    QWidget *form = g_formFactory(&request);
    if (ctx.error)
        std::rethrow_exception(ctx.error);
    if (!form || form != ctx.built) {
        delete ctx.built;
        throw std::runtime_error(
            QCoreApplication::translate("PKG_FIS02900",
                                        "O aplicativo não criou a janela %1 do módulo.")
                .arg(QString::fromLatin1(formClass))
                .toStdString());
    }
    return form;
}

QWidget *frameOf(QWidget *form)
{
    if (!form)
        return nullptr;
    if (auto *sub = qobject_cast<QMdiSubWindow *>(form->parentWidget()))
        return sub;
    return form;
}

void showMaximized(QWidget *form)
{
    QWidget *frame = frameOf(form);
    if (!frame)
        return;
    if (frame != form)
        form->show();
    frame->setWindowState((frame->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    frame->show();
    frame->raise();
    frame->activateWindow();
    if (auto *sub = qobject_cast<QMdiSubWindow *>(frame); sub && sub->mdiArea())
        sub->mdiArea()->setActiveSubWindow(sub);
}

void destroyForm(QWidget *form)
{
    if (!form)
        return;
    QWidget *frame = frameOf(form);
    delete frame; // the frame owns the form
}

QString languageResourcePath(const QString &moduleFile, const QString &localeName)
{
    if (moduleFile.isEmpty() || localeName.isEmpty())
        return {};
    return QFileInfo(moduleFile).absolutePath() + QStringLiteral("/PKG_FIS02900_") + localeName +
           QStringLiteral(".qm");
}

} // namespace fis::package

extern "C" {

void Initialize()
{
    fis::guarded([] {
        for (const Unit &unit : kUnitProcs)
            unit.initialization();
    });
}

void Finalize()
{
    fis::guarded([] {
        for (auto it = std::rbegin(kUnitProcs); it != std::rend(kUnitProcs); ++it)
            it->finalization();
    });
}

const FisPackageInfo *GetPackageInfoTable()
{
    return &kPackageInfo;
}

void SetFormFactory(FisFormFactory factory)
{
    g_formFactory = factory;
}
}
