#include "framework/showavi.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QMutex>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

namespace {

class ProgressWindow : public QFrame
{
public:
    explicit ProgressWindow(QWidget *parent)
        : QFrame(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    {
        setObjectName(QStringLiteral("frmShowAvi"));
        // The clerk's window keeps the keyboard while the call runs.
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFrameShape(QFrame::Box);
        setFrameShadow(QFrame::Raised);
        setLineWidth(2);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(24, 16, 24, 16);
        m_label = new QLabel(this);
        m_label->setObjectName(QStringLiteral("lblMensagem"));
        m_label->setAlignment(Qt::AlignCenter);
        auto *bar = new QProgressBar(this);
        bar->setObjectName(QStringLiteral("pgbAndamento"));
        bar->setRange(0, 0); // busy indicator
        bar->setTextVisible(false);
        layout->addWidget(m_label);
        layout->addWidget(bar);
        setMinimumWidth(280);
    }

    void setText(const QString &text) { m_label->setText(text); }
    QString text() const { return m_label->text(); }

private:
    QLabel *m_label;
};

QPointer<ProgressWindow> &current()
{
    static QPointer<ProgressWindow> window;
    return window;
}

// The window that was active when the progress window opened; it gets the activation back if
// the window system gave it to the progress window anyway.
QPointer<QWidget> &activeBefore()
{
    static QPointer<QWidget> window;
    return window;
}

// The text shown, readable from any thread (a test server records it with each call it gets
// while the caller blocks).
QMutex g_textMutex;
QString g_text;

void setShownText(const QString &text)
{
    QMutexLocker lock(&g_textMutex);
    g_text = text;
}

int g_holds = 0;
bool g_closedInHold = false; // the window is still up only because of a hold

bool &cursorOverridden()
{
    static bool overridden = false;
    return overridden;
}

void centreOver(QWidget *window, QWidget *parent)
{
    window->adjustSize();
    const QRect area = parent ? parent->window()->geometry() : QRect();
    if (area.isValid())
        window->move(area.center() - window->rect().center());
}

// The caller is about to block the event loop, so the window must be on the screen before this
// returns. A window system that shows windows asynchronously (X11) only lets a new window be
// painted once it has exposed it: wait for that (briefly, the clerk's keys stay queued), then
// paint and push the picture and the cursor out to the window system.
void paintBeforeBlocking(QWidget *window)
{
    constexpr int kMaxWaitMs = 1000;
    QElapsedTimer waited;
    waited.start();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    while (window->windowHandle() && !window->windowHandle()->isExposed() &&
           waited.elapsed() < kMaxWaitMs) {
        QThread::msleep(5);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    window->repaint();
    QGuiApplication::sync();
}

} // namespace

namespace fis {

QString progressKindText(int kind)
{
    switch (kind) {
    case 1:
        return QStringLiteral("Processando...");
    case 6:
        return QStringLiteral("Gerando relatório...");
    default:
        return QStringLiteral("Aguarde...");
    }
}

QWidget *progressWindow()
{
    return g_closedInHold ? nullptr : current().data();
}

ProgressHold::ProgressHold()
{
    ++g_holds;
}

ProgressHold::~ProgressHold()
{
    if (--g_holds == 0 && g_closedInHold)
        DeactiveShowAvi();
}

QString progressText()
{
    QMutexLocker lock(&g_textMutex);
    return g_text;
}

} // namespace fis

void ActiveShowAvi(QWidget *screen, int kind, const QString &text)
{
    QWidget *parent = screen ? screen->window() : QApplication::activeWindow();
    ProgressWindow *window = current();
    if (window && window->parentWidget() != parent) {
        window->hide();
        window->deleteLater();
        window = nullptr;
    }
    const QString shown = text.isEmpty() ? fis::progressKindText(kind) : text;
    if (window && g_closedInHold && window->isVisible()) {
        // Shown again within a hold: it is still up, only its text may change.
        g_closedInHold = false;
        if (window->text() != shown) {
            window->setText(shown);
            window->repaint();
        }
        setShownText(shown);
        return;
    }
    g_closedInHold = false;
    if (!window) {
        window = new ProgressWindow(parent);
        current() = window;
        activeBefore() = QApplication::activeWindow();
    }
    window->setText(shown);
    setShownText(shown);
    centreOver(window, parent);
    window->show();
    window->raise();
    if (!cursorOverridden()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorOverridden() = true;
    }
    paintBeforeBlocking(window);
}

void DeactiveShowAvi(QWidget * /*screen*/)
{
    if (g_holds > 0 && current()) {
        g_closedInHold = true;
        setShownText(QString());
        return;
    }
    g_closedInHold = false;
    if (ProgressWindow *window = current()) {
        current() = nullptr;
        setShownText(QString());
        const bool tookActivation = QApplication::activeWindow() == window;
        window->hide();
        window->deleteLater();
        QWidget *before = activeBefore();
        activeBefore() = nullptr;
        if (before && before->isVisible() &&
            (tookActivation || QApplication::activeWindow() == nullptr))
            QApplication::setActiveWindow(before);
    }
    if (cursorOverridden()) {
        QApplication::restoreOverrideCursor();
        cursorOverridden() = false;
    }
}
