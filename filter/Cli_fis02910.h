#pragma once
// The filter dialog "FIS02910" of the GPS emission and its unit-level state.
#include "filter/recordfilter.h"
#include "package/moduleexport.h"
#include "services/hostservices.h"

#include <QPointer>
#include <QString>

class TfrmFiltroEmiPrev : public TfrmFiltroPadrao
{
    Q_OBJECT
public:
    explicit TfrmFiltroEmiPrev(QWidget *parent = nullptr);
    ~TfrmFiltroEmiPrev() override;

    // Status letter of the rural-contribution query: "N", "S" or "T".
    QString stStatusFunRural;

    void FormCreate() override;
    void sbtConfirmaClick() override;
};

// Unit-level state.
extern QPointer<TfrmFiltroEmiPrev> frmFiltroEmiPrev; // the one instance, or none
extern bool boConfirma;  // an invoice filter has been confirmed since the dialog was created
extern QString stStatus; // status letter of the last confirm for an invoice report

extern "C" {
// Creates the filter dialog if needed, shows it modally and answers boConfirma.
FIS_MODULE_EXPORT bool CriaFiltroEmiPrevSocial();
}

namespace fis::Cli_fis02910 {
void initialization();
void finalization();
int initCount();
} // namespace fis::Cli_fis02910
