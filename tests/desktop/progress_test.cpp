// The progress window on X11: it is on the screen when ActiveShowAvi returns, before the call
// that follows blocks the event loop (nothing is painted while that call runs).
#include "framework/showavi.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// Share of the pixels of two images of the same size that differ.
double differingShare(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.isNull())
        return 1.0;
    qint64 differing = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            differing += x.pixel(col, row) != y.pixel(col, row);
    return double(differing) / (double(x.width()) * x.height());
}

// What the X server shows in a rectangle of the screen now, without letting Qt process anything.
QImage onScreen(const QRect &global)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, global.x(), global.y(), global.width(), global.height())
        .toImage();
}

} // namespace

TEST(ProgressWindowOnX11, IsOnTheScreenBeforeTheBlockingCallStarts)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under Xvfb (see CMakeLists.txt)";
    QWidget screen;
    screen.setWindowTitle("Emissão Guia da Previdência Social");
    auto *layout = new QVBoxLayout(&screen);
    layout->addWidget(new QLabel("Documentos"));
    screen.resize(800, 500);
    screen.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));

    for (int use = 0; use < 3; ++use) {
        ActiveShowAvi(&screen, 6, "Carregando dados do servidor...");
        // From here on nothing is processed, as during a call to a hung server.
        QWidget *window = fis::progressWindow();
        ASSERT_NE(window, nullptr);
        const QRect where(window->mapToGlobal(QPoint(0, 0)), window->size());
        const QImage shown = onScreen(where);
        const QImage painted = window->grab().toImage();
        EXPECT_LT(differingShare(shown, painted), 0.02)
            << "use " << use << ": the progress window is not on the screen yet";
        DeactiveShowAvi(&screen);
        QTest::qWait(50); // the screen repaints where the window was
    }
}
