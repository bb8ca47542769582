#include "filter/Cli_fis02910.h"

#include "emission/Cli_fis02900.h"
#include "package/Pkg_Fis02900.h"

#include <QApplication>
#include <QScopeGuard>

QPointer<TfrmFiltroEmiPrev> frmFiltroEmiPrev;
bool boConfirma = false;
QString stStatus;

namespace {
int g_initCount = 0;
constexpr int kRuralMapsReport = 2;
} // namespace

TfrmFiltroEmiPrev::TfrmFiltroEmiPrev(QWidget *parent)
    : TfrmFiltroPadrao(QStringLiteral("FIS02910"), parent)
{
    setObjectName(QStringLiteral("frmFiltroEmiPrev"));
    setWindowTitle(QStringLiteral("Filtro de Emissão da Guia da Previdência Social"));
}

TfrmFiltroEmiPrev::~TfrmFiltroEmiPrev() = default;

void TfrmFiltroEmiPrev::FormCreate()
{
    TfrmFiltroPadrao::FormCreate();
    boConfirma = false;
}

void TfrmFiltroEmiPrev::sbtConfirmaClick()
{
    const bool ruralMaps = frmEmiPrevSocial && frmEmiPrevSocial->reportIndex() == kRuralMapsReport;
    if (!ruralMaps)
        boConfirma = true;
    TfrmFiltroPadrao::sbtConfirmaClick();
}

bool CriaFiltroEmiPrevSocial()
{
    return fis::guardedResult<bool>(
        [] {
            {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
                if (!frmFiltroEmiPrev) {
                    auto *dialog = fis::package::createForm<TfrmFiltroEmiPrev>(FisModalDialog);
                    // Created once; a close only hides it, so its fields keep their values.
                    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
                    frmFiltroEmiPrev = dialog;
                    dialog->create();
                }
            }
            // The clerk works in the dialog with the normal cursor.
            frmFiltroEmiPrev->exec();
            return boConfirma;
        },
        boConfirma);
}

namespace fis::Cli_fis02910 {

void initialization()
{
    ++g_initCount;
}

void finalization()
{
    if (g_initCount == 0 || --g_initCount > 0)
        return;
    stStatus.clear();
    fis::package::destroyForm(frmFiltroEmiPrev);
    frmFiltroEmiPrev = nullptr;
}

int initCount()
{
    return g_initCount;
}

} // namespace fis::Cli_fis02910
