#pragma once
// The host's main window: the main menu, the MDI area where the screens open as child windows,
// and the form factory through which modules create their windows. The menus of the active
// screen join the main menu bar while it is shown.
#include "app/hostsettings.h"
#include "app/moduleloader.h"
#include "app/screenworkspace.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace fis {

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const HostSettings &settings, QWidget *parent = nullptr);
    ~MainWindow() override;

    QMdiArea *mdiArea() const { return m_mdi; }
    QMenu *fiscalMenu() const { return m_fiscal; }
    ModuleLoader &loader() { return m_loader; }

    // Loads the module when needed and opens the screen; errors go to the clerk.
    bool openScreen(const QString &code);

    // Builds a module's form (see module/packageprotocol.h). Child screens go into a new MDI
    // sub-window, dialogs get the main window as parent.
    QWidget *createForm(const FisFormRequest &request);

    // The host's form factory, served by the one main window alive.
    static QWidget *formFactory(const FisFormRequest *request);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    HostSettings m_settings;
    ModuleLoader m_loader;
    QMdiArea *m_mdi = nullptr;
    QMenu *m_fiscal = nullptr;
    QAction *m_sair = nullptr;
    ScreenWorkspace *m_workspace = nullptr;

    static MainWindow *s_instance;
};

} // namespace fis
