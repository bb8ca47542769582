#pragma once
// The host's date edit: a masked edit on the date mask with a calendar popup. The program reads
// and writes dates as fis::TDateTime (0 = no date); the text of a cleared edit is "  /  /    ".
#include "data/variant.h"
#include "widgets/maskedit.h"

#include <QFrame>
#include <QStringList>

class QCalendarWidget;
class QAction;
class QTableView;

namespace fis {

// The row of week-day names of the calendar: between the month bar and the days, each name
// centred over its column of days.
class WeekDayHeader : public QWidget
{
    Q_OBJECT
public:
    WeekDayHeader(QCalendarWidget *calendar, const QStringList &names);

    QStringList names() const { return names_; }
    // Where the name of a column (0 = Sunday) is drawn, in this widget's coordinates.
    QRect nameRect(int column) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QCalendarWidget *calendar_;
    QTableView *days_; // the calendar's grid of days
    QStringList names_;
};

// The calendar shown under a date edit: week-day names of its own over the days.
class CalendarPopup : public QFrame
{
    Q_OBJECT
public:
    explicit CalendarPopup(QWidget *parent = nullptr);

    QCalendarWidget *calendar() const { return calendar_; }
    WeekDayHeader *header() const { return header_; }
    // The grid of days inside the calendar (its columns are the week days, Sunday first).
    QTableView *days() const;
    // Sunday first, as the header shows them.
    static QStringList weekDayNames();
    QStringList headerTexts() const;

signals:
    void picked(const QDate &date);

private:
    QCalendarWidget *calendar_;
    WeekDayHeader *header_;
};

} // namespace fis

class TDateEditPlus : public fis::MaskEdit
{
    Q_OBJECT
public:
    explicit TDateEditPlus(QWidget *parent = nullptr);

    // The typed date; 0 when the edit is empty or the text is not a valid date.
    fis::TDateTime GetDate() const;
    // Shows the date part of date; 0 empties the edit.
    void SetDate(fis::TDateTime date);
    // True when the edit is empty or holds a valid date.
    bool CheckValidDate() const;
    bool isBlank() const;

    // Opens the calendar under the edit, on the typed date (today when there is none).
    void showCalendar();
    fis::CalendarPopup *calendarPopup() const { return popup_; } // null until first shown
    QAction *calendarAction() const { return calendarAction_; }

    // The date a text of the date mask stands for; invalid for a blank or wrong text.
    static QDate parseDate(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateColour();

    fis::CalendarPopup *popup_ = nullptr;
    QAction *calendarAction_ = nullptr;
};
