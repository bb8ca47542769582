#pragma once
// The package unit: the module's entry points of the package protocol (see packageprotocol.h),
// the host's form factory and the module's version.
#include "package/moduleexport.h"
#include "module/packageprotocol.h"

#include <QString>

#include <functional>

class QWidget;

extern "C" {
FIS_MODULE_EXPORT void Initialize();
FIS_MODULE_EXPORT void Finalize();
FIS_MODULE_EXPORT const FisPackageInfo *GetPackageInfoTable();
FIS_MODULE_EXPORT void SetFormFactory(FisFormFactory factory);
// "6.10.040"
FIS_MODULE_EXPORT extern const char PKG_FIS02900_Version[];
}

namespace fis::package {

// Creates a form through the host's form factory (or as a top-level window when the host gave
// none). construct builds the widget under the parent it is given. Exceptions thrown by
// construct come out of here, never through the host's code. Throws std::runtime_error when the
// host refuses the form.
QWidget *createForm(const char *formClass, FisFormKind kind,
                    const std::function<QWidget *(QWidget *parent)> &construct);

template <typename T>
T *createForm(FisFormKind kind)
{
    return static_cast<T *>(createForm(T::staticMetaObject.className(), kind,
                                       [](QWidget *parent) { return new T(parent); }));
}

// The window that represents the form on the screen: the host's frame around it (an MDI
// sub-window) when there is one, else the form itself.
QWidget *frameOf(QWidget *form);

// Shows a screen and maximises it (its frame, see frameOf).
void showMaximized(QWidget *form);

// Destroys a form created by createForm together with the host's frame around it.
void destroyForm(QWidget *form);

// The language-resource file of the module for a locale: "<dir>/PKG_FIS02900_<locale>.qm".
QString languageResourcePath(const QString &moduleFile, const QString &localeName);

} // namespace fis::package
