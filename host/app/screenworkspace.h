#pragma once
// Where a host shows a module's windows: child screens in frames of an MDI area, dialogs over the
// main window, and the active screen's menu bar ("mnuMenu") merged into the main menu bar by
// merge group while the screen is active. fis-host and the scenario runner share it, so scripts
// see exactly the frames and menus a clerk sees.
#include "module/packageprotocol.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QAction;
class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace fis {

class ScreenWorkspace : public QObject
{
    Q_OBJECT
public:
    // window and mdi are not owned; mdi is the window's central MDI area.
    ScreenWorkspace(QMainWindow *window, QMdiArea *mdi, QObject *parent = nullptr);

    // Builds a module's form: a child screen goes into a new frame named "<form>Frame", a dialog
    // gets the main window as parent. nullptr when the module's constructor refused.
    QWidget *createForm(const FisFormRequest &request);

    // Takes the merged screen menus out of the main menu bar.
    void unmergeMenus();

    // The merge group of a menu-bar action (its "mergeGroup" property, 0 when unset).
    static int mergeGroup(const QAction *action);

private:
    void mergeMenus(QMdiSubWindow *active);

    QPointer<QMainWindow> m_window;
    QPointer<QMdiArea> m_mdi;
    QList<QPointer<QAction>> m_merged;
};

} // namespace fis
