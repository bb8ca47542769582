#pragma once
// Loads a screen module on demand and speaks the package protocol with it (module/
// packageprotocol.h): Initialize after loading, IniProc to open its screen, Finalize before
// unloading.
#include "module/packageprotocol.h"

#include <QLibrary>
#include <QString>

namespace fis {

class ModuleLoader
{
public:
    ModuleLoader() = default;
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader &) = delete;
    ModuleLoader &operator=(const ModuleLoader &) = delete;

    // Loads the module (no-op when it is already loaded), resolves its entry points, hands it
    // the form factory and runs Initialize. On failure answers false with the reason in *error
    // and leaves nothing loaded.
    bool load(const QString &path, FisFormFactory factory, QString *error);
    bool isLoaded() const { return m_iniProc != nullptr; }

    // Opens the module's screen (IniProc). False when no module is loaded.
    bool open();

    const FisPackageInfo *packageInfo() const;

    // Runs Finalize (which destroys the module's windows) and unloads the module.
    void unload();

private:
    QLibrary m_library;
    FisProc m_initialize = nullptr;
    FisProc m_finalize = nullptr;
    FisProc m_iniProc = nullptr;
    FisPackageInfoFunc m_packageInfo = nullptr;
    FisSetFormFactoryFunc m_setFormFactory = nullptr;
};

} // namespace fis
