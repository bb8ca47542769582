#include "app/moduleloader.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>

namespace fis {

ModuleLoader::~ModuleLoader()
{
    unload();
}

bool ModuleLoader::load(const QString &path, FisFormFactory factory, QString *error)
{
    if (isLoaded())
        return true;
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("Módulo não encontrado: %1").arg(path);
        return false;
    }
    m_library.setFileName(path);
    if (!m_library.load()) {
        *error = QStringLiteral("Não foi possível carregar o módulo %1: %2")
                     .arg(path, m_library.errorString());
        return false;
    }
    auto resolve = [this](const char *name) { return m_library.resolve(name); };
    auto initialize = reinterpret_cast<FisProc>(resolve("Initialize"));
    auto finalize = reinterpret_cast<FisProc>(resolve("Finalize"));
    auto iniProc = reinterpret_cast<FisProc>(resolve("IniProc"));
    auto packageInfo = reinterpret_cast<FisPackageInfoFunc>(resolve("GetPackageInfoTable"));
    auto setFormFactory = reinterpret_cast<FisSetFormFactoryFunc>(resolve("SetFormFactory"));
    if (!initialize || !finalize || !iniProc || !packageInfo) {
        *error = QStringLiteral("O arquivo %1 não é um módulo de tela: faltam os pontos de "
                                "entrada Initialize, Finalize, IniProc ou GetPackageInfoTable.")
                     .arg(path);
        m_library.unload();
        return false;
    }
    m_initialize = initialize;
    m_finalize = finalize;
    m_packageInfo = packageInfo;
    m_setFormFactory = setFormFactory;
    if (m_setFormFactory)
        m_setFormFactory(factory);
    m_initialize();
    m_iniProc = iniProc;
    return true;
}

bool ModuleLoader::open()
{
    if (!m_iniProc)
        return false;
    m_iniProc();
    return true;
}

const FisPackageInfo *ModuleLoader::packageInfo() const
{
    return m_packageInfo ? m_packageInfo() : nullptr;
}

void ModuleLoader::unload()
{
    if (!isLoaded())
        return;
    // Windows of the module already closed may still wait for their deferred deletion: it must
    // run while the module's code is still there.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_finalize();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (m_setFormFactory)
        m_setFormFactory(nullptr);
    m_iniProc = nullptr;
    m_initialize = m_finalize = nullptr;
    m_packageInfo = nullptr;
    m_setFormFactory = nullptr;
    m_library.unload();
}

} // namespace fis
