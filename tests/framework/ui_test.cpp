#include "recordingui.h"

#include "framework/defaulthostui.h"
#include "framework/showavi.h"
#include "widgets/errorguard.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <stdexcept>

using fis::test::RecordingUi;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

TEST(ProgressWindow, PaintedBeforeReturningAndClosingTwiceIsHarmless)
{
    QWidget screen;
    screen.resize(400, 300);
    screen.show();

    // A filter installed on the next created window: catch it through the application.
    PaintCounter counter;
    ActiveShowAvi(&screen, 6);
    QWidget *window = fis::progressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->parentWidget(), &screen);
    EXPECT_EQ(fis::progressText(), QStringLiteral("Gerando relatório..."));
    EXPECT_EQ(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                             : Qt::ArrowCursor,
              Qt::WaitCursor);

    // Showing it again changes the text of the same window and paints it at once.
    window->installEventFilter(&counter);
    ActiveShowAvi(&screen, 0, QStringLiteral("Carregando dados do servidor..."));
    EXPECT_EQ(fis::progressWindow(), window);
    EXPECT_GT(counter.paints, 0);
    EXPECT_EQ(window->findChild<QLabel *>()->text(),
              QStringLiteral("Carregando dados do servidor..."));

    DeactiveShowAvi(&screen);
    EXPECT_EQ(fis::progressWindow(), nullptr);
    EXPECT_EQ(fis::progressText(), QString());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    DeactiveShowAvi(&screen); // second close: nothing happens
    DeactiveShowAvi();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    EXPECT_EQ(fis::progressKindText(1), QStringLiteral("Processando..."));
    EXPECT_EQ(fis::progressKindText(0), QStringLiteral("Aguarde..."));
}

TEST(ProgressWindow, AHoldKeepsItUpAcrossCallsAndClosesItWhenThePassEnds)
{
    QWidget screen;
    screen.show();
    QPointer<QWidget> window;
    {
        const fis::ProgressHold hold;
        ActiveShowAvi(&screen, 1);
        window = fis::progressWindow();
        DeactiveShowAvi(&screen);
        // Closed for everyone asking, still up on the screen for the next call of the pass.
        EXPECT_EQ(fis::progressWindow(), nullptr);
        EXPECT_EQ(fis::progressText(), QString());
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
        ActiveShowAvi(&screen, 0);
        EXPECT_EQ(fis::progressWindow(), window.data());
        EXPECT_EQ(fis::progressText(), QStringLiteral("Aguarde..."));
        EXPECT_EQ(window->findChild<QLabel *>()->text(), QStringLiteral("Aguarde..."));
        DeactiveShowAvi(&screen);
    }
    EXPECT_TRUE(!window || !window->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ProgressWindow, TheClerksWindowKeepsTheKeyboard)
{
    QWidget screen;
    auto *edit = new QLineEdit(&screen);
    screen.show();
    QApplication::setActiveWindow(&screen);
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&screen));

    ActiveShowAvi(&screen, 1);
    // Even if the window system hands the activation to the progress window, closing it gives it
    // back, with the focus where it was.
    QApplication::setActiveWindow(fis::progressWindow());
    DeactiveShowAvi(&screen);
    EXPECT_EQ(QApplication::activeWindow(), &screen);
    EXPECT_EQ(QApplication::focusWidget(), edit);
}

TEST(ProgressWindow, SurvivesItsScreenClosingFirst)
{
    auto *screen = new QWidget;
    screen->show();
    ActiveShowAvi(screen, 1);
    delete screen; // the window goes with its parent
    EXPECT_EQ(fis::progressWindow(), nullptr);
    DeactiveShowAvi();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ErrorGuard, ErrorInASlotIsReportedAndTheProgramGoesOn)
{
    RecordingUi ui;
    QPushButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        fis::guarded([&] {
            ++clicks;
            if (clicks == 1)
                throw std::runtime_error("Falha de comunicação com o servidor.");
        });
    });
    button.click();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].kind, fis::MessageKind::Error);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Falha de comunicação com o servidor."));
    button.click();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(ui.messages.size(), 1);
}

TEST(DefaultHostUi, MessageBoxesHavePortugueseCaptionsAndButtons)
{
    fis::DefaultHostUi &host = fis::DefaultHostUi::instance();
    QString title;
    QStringList buttons;
    auto answer = [&](const QString &choose) {
        QTimer::singleShot(0, [&, choose] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            buttons.clear();
            for (QAbstractButton *b : box->buttons())
                buttons << b->text();
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == choose) {
                    b->click();
                    return;
                }
            }
            box->reject();
        });
    };

    answer(QStringLiteral("Sim"));
    EXPECT_TRUE(host.message(fis::MessageKind::Confirmation, QStringLiteral("Confirma?")));
    EXPECT_EQ(title, QStringLiteral("Confirmação"));
    EXPECT_TRUE(buttons.contains(QStringLiteral("Sim")));
    EXPECT_TRUE(buttons.contains(QStringLiteral("Não")));

    answer(QStringLiteral("Não"));
    EXPECT_FALSE(host.message(fis::MessageKind::Confirmation, QStringLiteral("Confirma?")));

    answer(QStringLiteral("OK"));
    host.message(fis::MessageKind::Error, QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(title, QStringLiteral("Erro"));
    EXPECT_EQ(buttons, QStringList{QStringLiteral("OK")});

    EXPECT_EQ(fis::DefaultHostUi::caption(fis::MessageKind::Warning), QStringLiteral("Atenção"));
    EXPECT_EQ(fis::DefaultHostUi::caption(fis::MessageKind::Information),
              QStringLiteral("Informação"));

    // Modal windows of the screens part answer "nothing chosen" until their hooks are set.
    EXPECT_FALSE(host.pick(nullptr, QStringLiteral("Empresa")));
    fis::DefaultHostUi::hooks().pick = [](fis::DataLink *, const QString &title, QWidget *) {
        return title == QStringLiteral("Empresa");
    };
    EXPECT_TRUE(host.pick(nullptr, QStringLiteral("Empresa")));
    fis::DefaultHostUi::hooks().pick = nullptr;
}
