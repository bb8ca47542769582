#include "app/screenworkspace.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

namespace fis {

namespace {

// The frame's system menu carries Ctrl+F4 ("Fechar") too; with the screen's own Ctrl+F4 item
// both would match and Qt would run neither. The screen's menu owns the shortcut.
void dropFrameShortcuts(QMdiSubWindow *frame)
{
    if (QMenu *menu = frame->systemMenu()) {
        for (QAction *action : menu->actions())
            action->setShortcuts({});
    }
}

} // namespace

ScreenWorkspace::ScreenWorkspace(QMainWindow *window, QMdiArea *mdi, QObject *parent)
    : QObject(parent), m_window(window), m_mdi(mdi)
{
    connect(mdi, &QMdiArea::subWindowActivated, this, &ScreenWorkspace::mergeMenus);
}

int ScreenWorkspace::mergeGroup(const QAction *action)
{
    const QVariant group = action->property("mergeGroup");
    return group.isValid() ? group.toInt() : 0;
}

QWidget *ScreenWorkspace::createForm(const FisFormRequest &request)
{
    if (!request.construct)
        return nullptr;
    if (request.kind != FisChildScreen || !m_mdi)
        return request.construct(m_window, request.context);

    auto *sub = new QMdiSubWindow;
    sub->setAttribute(Qt::WA_DeleteOnClose);
    QWidget *form = request.construct(sub, request.context);
    if (!form) {
        delete sub;
        return nullptr;
    }
    sub->setObjectName(form->objectName() + QStringLiteral("Frame"));
    sub->setWidget(form);
    sub->setWindowTitle(form->windowTitle());
    sub->setWindowIcon(form->windowIcon());
    dropFrameShortcuts(sub);
    m_mdi->addSubWindow(sub);
    // The screen may end itself (its own close button): the frame goes with it.
    connect(form, &QObject::destroyed, sub, &QObject::deleteLater);
    connect(form, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
    connect(form, &QObject::objectNameChanged, sub,
            [sub](const QString &name) { sub->setObjectName(name + QStringLiteral("Frame")); });
    return form;
}

void ScreenWorkspace::unmergeMenus()
{
    if (m_window) {
        for (const QPointer<QAction> &action : std::as_const(m_merged)) {
            if (action)
                m_window->menuBar()->removeAction(action);
        }
    }
    m_merged.clear();
}

void ScreenWorkspace::mergeMenus(QMdiSubWindow *active)
{
    unmergeMenus();
    if (!m_window || !active || !active->widget())
        return;
    auto *screenMenu = active->widget()->findChild<QMenuBar *>(QStringLiteral("mnuMenu"),
                                                               Qt::FindDirectChildrenOnly);
    if (!screenMenu)
        return;
    QMenuBar *bar = m_window->menuBar();
    for (QAction *action : screenMenu->actions()) {
        QAction *before = nullptr;
        for (QAction *own : bar->actions()) {
            if (!m_merged.contains(own) && mergeGroup(own) > mergeGroup(action)) {
                before = own;
                break;
            }
        }
        bar->insertAction(before, action);
        m_merged.append(action);
    }
}

} // namespace fis
