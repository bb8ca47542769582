#pragma once
// The GPS emission screen "FIS02900" and its unit-level state.
#include "filter/recordfilter.h"
#include "package/moduleexport.h"
#include "services/hostservices.h"

#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QMenuBar;

class TfrmEmiPrevSocial : public TfrmDadosGerRel
{
    Q_OBJECT
public:
    explicit TfrmEmiPrevSocial(QWidget *parent = nullptr);
    ~TfrmEmiPrevSocial() override;

    // The connection to the application-server object; both screens call through it.
    TNetConnection *netEmisGuiaPrev = nullptr;

    // Menu merged into the host's main menu while the screen is shown (merge group 8).
    QMenuBar *mnuMenu = nullptr;
    QMenu *mnuOperac = nullptr;
    QAction *mnuImprimir = nullptr;
    QAction *mnuVisualizar = nullptr;
    QAction *mnuSalvarComo = nullptr;
    QAction *mnuConfigImpress = nullptr;
    QAction *N2 = nullptr;
    QAction *mnuFechar = nullptr;
    QMenu *mnuManutencao = nullptr;
    QAction *mnuAtualizar = nullptr;
    QAction *mnuProcurar = nullptr;
    QAction *N1 = nullptr;
    QAction *mnuFiltro = nullptr;

    // The filter criteria last confirmed for an invoice report (zero-filled at creation).
    TRecordFilter RecordFilter;

    // Operation letter of the chosen report: "E" entries, "S" exits.
    QString stOperacao;

    void FormCreate() override;
    void FormClose() override;
    void netEmisGuiaPrevBeforeConnect(TNetConnection *sender);

    // Index of the chosen report (2 is the rural-maps report).
    int reportIndex() const;

private:
    void createMenu();
};

// Unit-level state.
extern QPointer<TfrmEmiPrevSocial> frmEmiPrevSocial; // the one instance, or none
extern bool boStCriado;                              // the screen exists
extern QString stFilial;     // key list of the branches of the ticked documents
extern QString stLancamento; // key list of the entry numbers of the ticked documents
extern QString stNrMapa;     // sequence numbers of the maps selected for emission

extern "C" {
// Creates the emission screen if needed, shows it and maximises it.
FIS_MODULE_EXPORT void CriaEmiPrevSocial();
// What the host calls to open the screen.
FIS_MODULE_EXPORT void IniProc();
}

namespace fis::Cli_fis02900 {
// Unit initialisation and finalisation (counted; the last finalisation clears the unit texts
// and destroys the screen).
void initialization();
void finalization();
int initCount();
} // namespace fis::Cli_fis02900
