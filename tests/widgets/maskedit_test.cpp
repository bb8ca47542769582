#include "recordingui.h"
#include "widgets/dateeditplus.h"
#include "widgets/maskedit.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using fis::EditMask;
using fis::MaskEdit;

// The host's masks count '9' as an optional digit and '0' as a required one; Qt has it the
// other way round, so a mis-mapping shows up as a wrong completeness or a refused digit.
TEST(EditMask, TranslatesDigitsLiteralsAndFlags)
{
    const EditMask code = EditMask::parse(QStringLiteral("99;0; "));
    EXPECT_EQ(code.qtMask, QStringLiteral("00"));
    EXPECT_FALSE(code.saveLiterals);
    EXPECT_EQ(code.blank, QLatin1Char(' '));

    const EditMask date = EditMask::parse(QStringLiteral("!99/99/9999;1;_"));
    EXPECT_EQ(date.qtMask, QStringLiteral("00/00/0000"));
    EXPECT_TRUE(date.saveLiterals);
    EXPECT_EQ(date.blank, QLatin1Char('_'));
    EXPECT_EQ(date.length(), 10);

    const EditMask noFlags = EditMask::parse(QStringLiteral("00-L"));
    EXPECT_EQ(noFlags.qtMask, QStringLiteral("99-A"));
    EXPECT_TRUE(noFlags.saveLiterals) << "literals are kept when the flag is missing";

    // Host literals that are meta characters for Qt must stay literals.
    EXPECT_EQ(EditMask::parse(QStringLiteral("NF 999")).qtMask, QStringLiteral("\\NF 000"));
    EXPECT_EQ(EditMask::parse(QStringLiteral("\\9 9")).qtMask, QStringLiteral("\\9 0"));
}

TEST(MaskEdit, ReadsBackTypedDigitsOnlyWhenLiteralsAreNotSaved)
{
    MaskEdit edit;
    edit.setEditMask(QStringLiteral("9999;0; "));
    EXPECT_EQ(edit.Text(), QString());
    EXPECT_EQ(edit.maxLength(), 4);
    edit.setFocus();
    QTest::keyClicks(&edit, QStringLiteral("12"));
    EXPECT_EQ(edit.Text(), QStringLiteral("12"));
    EXPECT_TRUE(edit.isComplete()) << "every digit of this mask is optional";
    QTest::keyClicks(&edit, QStringLiteral("x345"));
    EXPECT_EQ(edit.Text(), QStringLiteral("1234")) << "letters refused, the fifth digit too";

    edit.setMaskedText(QStringLiteral("07"));
    EXPECT_EQ(edit.Text(), QStringLiteral("07"));
}

TEST(MaskEdit, KeepsLiteralsAndBlanksAsSpacesWhenSaved)
{
    MaskEdit edit;
    edit.setEditMask(fis::kDateMask);
    EXPECT_EQ(edit.Text(), fis::kEmptyDateText);
    EXPECT_EQ(edit.displayText(), QStringLiteral("__/__/____"));
    edit.setMaskedText(QStringLiteral("1 /05/    "));
    EXPECT_EQ(edit.Text(), QStringLiteral("1 /05/    ")) << "a hole stays where it was";
    edit.setMaskedText(QStringLiteral("31122024"));
    EXPECT_EQ(edit.Text(), QStringLiteral("31/12/2024"));

    // Changing the mask keeps what can be kept; removing it gives a plain edit.
    edit.setEditMask(QString());
    EXPECT_EQ(edit.Text(), QStringLiteral("31/12/2024"));
    EXPECT_TRUE(edit.inputMask().isEmpty());
}

TEST(MaskEdit, HandlersRunGuarded)
{
    MaskEdit edit;
    int changes = 0;
    edit.onChange = [&] {
        ++changes;
        throw std::runtime_error("handler failed");
    };
    fis::test::RecordingUi ui;
    EXPECT_NO_THROW(edit.setText(QStringLiteral("a")));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].second, QStringLiteral("handler failed"));
    EXPECT_EQ(changes, 1);
}

TEST(MaskEdit, EnterAndExitRunOnlyWhenTheFocusMovesBetweenControls)
{
    QWidget window;
    auto *other = new QLineEdit(&window);
    auto *edit = new MaskEdit(&window);
    int enters = 0, exits = 0;
    edit->onEnter = [&] { ++enters; };
    edit->onExit = [&] { ++exits; };
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus(Qt::TabFocusReason);
    edit->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(enters, 1);

    // A message box or another window taking the activation, and coming back: no exit, no enter
    // (an exit check that shows a message would otherwise run again behind its own message).
    QWidget box;
    box.show();
    QApplication::setActiveWindow(&box);
    QApplication::setActiveWindow(&window);
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(enters, 1);

    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(exits, 1);
}

TEST(MaskEdit, UpperCaseCoversTypedPastedAndSetTexts)
{
    MaskEdit edit;
    edit.setMaxLength(5);
    edit.setMaskedText(QStringLiteral("ab"));
    edit.setUpperCase(true);
    EXPECT_EQ(edit.Text(), QStringLiteral("AB")); // what it held already
    edit.clear();
    QTest::keyClicks(&edit, QStringLiteral("nfx"));
    EXPECT_EQ(edit.Text(), QStringLiteral("NFX"));
    edit.setMaskedText(QStringLiteral("série"));
    EXPECT_EQ(edit.Text(), QStringLiteral("SÉRIE"));
    edit.selectAll();
    edit.insert(QStringLiteral("u1"));
    EXPECT_EQ(edit.Text(), QStringLiteral("U1"));

    edit.setUpperCase(false);
    edit.clear();
    QTest::keyClicks(&edit, QStringLiteral("ab"));
    EXPECT_EQ(edit.Text(), QStringLiteral("ab"));
}

TEST(DateEditPlus, GetSetAndEmptyText)
{
    TDateEditPlus edit;
    EXPECT_EQ(edit.Text(), QStringLiteral("  /  /    "));
    EXPECT_EQ(edit.displayText(), QStringLiteral("  /  /    "));
    EXPECT_TRUE(edit.GetDate().isNull());
    EXPECT_TRUE(edit.CheckValidDate());

    const fis::TDateTime withTime(fis::TDateTime::fromDate(QDate(2024, 2, 29)).value + 0.75);
    edit.SetDate(withTime);
    EXPECT_EQ(edit.Text(), QStringLiteral("29/02/2024"));
    EXPECT_EQ(edit.GetDate(), fis::TDateTime::fromDate(QDate(2024, 2, 29)))
        << "the time part is not kept";
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(Qt::blue));

    edit.SetDate(fis::TDateTime());
    EXPECT_EQ(edit.Text(), fis::kEmptyDateText);
    EXPECT_NE(edit.palette().color(QPalette::Text), QColor(Qt::blue));
}

TEST(DateEditPlus, InvalidAndPartialDatesReadAsZero)
{
    TDateEditPlus edit;
    for (const char *text :
         {"31/02/2024", "29/02/2023", "12/13/2024", "12/05/24  ", "1 /  /    "}) {
        edit.setMaskedText(QString::fromLatin1(text));
        EXPECT_TRUE(edit.GetDate().isNull()) << text;
        EXPECT_FALSE(edit.CheckValidDate()) << text;
    }
    edit.setMaskedText(QStringLiteral("5 /3 /2025"));
    EXPECT_EQ(edit.GetDate(), fis::TDateTime::fromDate(QDate(2025, 3, 5)));
    EXPECT_TRUE(edit.CheckValidDate());
}

TEST(DateEditPlus, TypingAndCalendarPopup)
{
    TDateEditPlus edit;
    edit.show();
    edit.setFocus();
    QTest::keyClicks(&edit, QStringLiteral("01022025"));
    EXPECT_EQ(edit.GetDate(), fis::TDateTime::fromDate(QDate(2025, 2, 1)));

    QTest::keyClick(&edit, Qt::Key_Down, Qt::AltModifier);
    ASSERT_NE(edit.calendarPopup(), nullptr);
    EXPECT_TRUE(edit.calendarPopup()->isVisible());
    EXPECT_EQ(edit.calendarPopup()->headerTexts(),
              QStringList({"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"}));
    EXPECT_EQ(edit.calendarPopup()->calendar()->selectedDate(), QDate(2025, 2, 1));

    // The names stand between the month bar and the days, each over its own column, whole.
    fis::CalendarPopup *popup = edit.calendarPopup();
    QCalendarWidget *calendar = popup->calendar();
    const QWidget *monthBar = calendar->findChild<QWidget *>("qt_calendar_navigationbar");
    const QTableView *days = popup->days();
    ASSERT_TRUE(monthBar && days);
    const QWidget *header = popup->header();
    const auto inCalendar = [calendar](const QWidget *w, const QRect &r) {
        return QRect(w->mapTo(calendar, r.topLeft()), r.size());
    };
    EXPECT_GE(inCalendar(header, header->rect()).top(),
              inCalendar(monthBar, monthBar->rect()).bottom());
    EXPECT_LE(inCalendar(header, header->rect()).bottom(), inCalendar(days, days->rect()).top());
    QFont bold = header->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    for (int column = 0; column < 7; ++column) {
        const QRect name = inCalendar(header, popup->header()->nameRect(column));
        const QRect cells = inCalendar(days->viewport(), QRect(days->columnViewportPosition(column),
                                                               0, days->columnWidth(column), 1));
        EXPECT_NEAR(name.center().x(), cells.center().x(), 1) << column;
        EXPECT_LE(metrics.horizontalAdvance(popup->headerTexts().at(column)), name.width())
            << qPrintable(popup->headerTexts().at(column));
    }
    // Six weeks of days, the last one whole.
    const int lastWeek = days->model()->rowCount() - 1;
    EXPECT_GE(lastWeek, 5);
    EXPECT_LE(days->rowViewportPosition(lastWeek) + days->rowHeight(lastWeek),
              days->viewport()->height());
    emit edit.calendarPopup()->calendar()->activated(QDate(2025, 3, 10));
    EXPECT_FALSE(edit.calendarPopup()->isVisible());
    EXPECT_EQ(edit.Text(), QStringLiteral("10/03/2025"));

    edit.calendarPopup()->hide();
    edit.calendarAction()->trigger();
    EXPECT_TRUE(edit.calendarPopup()->isVisible());
    edit.calendarPopup()->hide();
}
