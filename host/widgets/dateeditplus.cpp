#include "widgets/dateeditplus.h"

#include "widgets/errorguard.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QTableView>
#include <QVBoxLayout>

namespace fis {

namespace {

// The calendar's own grid of days (the toolkit names it so).
QTableView *daysOf(QCalendarWidget *calendar)
{
    return calendar->findChild<QTableView *>(QStringLiteral("qt_calendar_calendarview"));
}

} // namespace

WeekDayHeader::WeekDayHeader(QCalendarWidget *calendar, const QStringList &names)
    : QWidget(calendar), calendar_(calendar), days_(daysOf(calendar)), names_(names)
{
    setObjectName(QStringLiteral("lblDiasSemana"));
    if (days_)
        days_->viewport()->installEventFilter(this);
    // The days are at least as wide as the longest name, so that no two names run together.
    int widest = 0;
    for (const QString &name : names_)
        widest = qMax(widest, fontMetrics().horizontalAdvance(name));
    calendar->setMinimumWidth(7 * (widest + 12) + 4);
    // The names take a row of their own: the calendar grows by it, the days keep their height.
    calendar->setMinimumHeight(calendar->sizeHint().height() + sizeHint().height());
}

QSize WeekDayHeader::sizeHint() const
{
    int widest = 0;
    for (const QString &name : names_)
        widest = qMax(widest, fontMetrics().horizontalAdvance(name));
    return {7 * (widest + 12), fontMetrics().height() + 8};
}

QRect WeekDayHeader::nameRect(int column) const
{
    if (!days_ || column < 0 || column >= 7)
        return {};
    QWidget *viewport = days_->viewport();
    const int left =
        viewport->mapTo(calendar_, QPoint(days_->columnViewportPosition(column), 0)).x() -
        mapTo(calendar_, QPoint(0, 0)).x();
    return {left, 0, days_->columnWidth(column), height()};
}

void WeekDayHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    for (int column = 0; column < names_.size() && column < 7; ++column) {
        const QRect rect = nameRect(column);
        painter.drawText(
            rect, Qt::AlignCenter,
            painter.fontMetrics().elidedText(names_.at(column), Qt::ElideRight, rect.width()));
    }
}

bool WeekDayHeader::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
        update();
    return QWidget::eventFilter(watched, event);
}

CalendarPopup::CalendarPopup(QWidget *parent) : QFrame(parent, Qt::Popup)
{
    setObjectName(QStringLiteral("calendarPopup"));
    setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);

    calendar_ = new QCalendarWidget(this);
    calendar_->setObjectName(QStringLiteral("calendar"));
    calendar_->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    calendar_->setFirstDayOfWeek(Qt::Sunday);
    // The toolkit names the week days by locale; the host shows names of its own, in the
    // calendar between its month bar and its days.
    calendar_->setHorizontalHeaderFormat(QCalendarWidget::NoHorizontalHeader);
    calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar_->setGridVisible(true);
    header_ = new WeekDayHeader(calendar_, weekDayNames());
    if (auto *inside = qobject_cast<QBoxLayout *>(calendar_->layout()))
        inside->insertWidget(1, header_);
    else
        layout->addWidget(header_);
    layout->addWidget(calendar_);

    connect(calendar_, &QCalendarWidget::activated, this, [this](QDate date) {
        hide();
        emit picked(date);
    });
    connect(calendar_, &QCalendarWidget::clicked, this, [this](QDate date) {
        hide();
        emit picked(date);
    });
}

QTableView *CalendarPopup::days() const
{
    return daysOf(calendar_);
}

QStringList CalendarPopup::weekDayNames()
{
    return {QStringLiteral("Domingo"), QStringLiteral("Segunda"), QStringLiteral("Terça"),
            QStringLiteral("Quarta"),  QStringLiteral("Quinta"),  QStringLiteral("Sexta"),
            QStringLiteral("Sábado")};
}

QStringList CalendarPopup::headerTexts() const
{
    return header_->names();
}

} // namespace fis

namespace {

QIcon calendarIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::white);
    p.drawRect(1, 2, 13, 12);
    p.fillRect(2, 3, 12, 3, QColor(40, 90, 170));
    for (int y = 8; y < 14; y += 3)
        for (int x = 3; x < 14; x += 3)
            p.drawPoint(x, y);
    return QIcon(pixmap);
}

} // namespace

TDateEditPlus::TDateEditPlus(QWidget *parent) : fis::MaskEdit(parent)
{
    setEditMask(fis::kDateEditMask);
    calendarAction_ = addAction(calendarIcon(), QLineEdit::TrailingPosition);
    calendarAction_->setObjectName(QStringLiteral("actCalendario"));
    calendarAction_->setToolTip(QStringLiteral("Calendário"));
    connect(calendarAction_, &QAction::triggered, this,
            [this] { fis::guarded([this] { showCalendar(); }); });
    connect(this, &QLineEdit::textChanged, this, [this] { updateColour(); });
    updateColour();
}

QDate TDateEditPlus::parseDate(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 3)
        return {};
    int numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        const QString part = parts.at(i).trimmed();
        const int maxDigits = i == 2 ? 4 : 2;
        const int minDigits = i == 2 ? 4 : 1;
        if (part.size() < minDigits || part.size() > maxDigits)
            return {};
        for (QChar c : part) {
            if (!c.isDigit())
                return {};
        }
        numbers[i] = part.toInt();
    }
    return QDate(numbers[2], numbers[1], numbers[0]); // invalid for 31/02 and the like
}

fis::TDateTime TDateEditPlus::GetDate() const
{
    const QDate date = parseDate(Text());
    return date.isValid() ? fis::TDateTime::fromDate(date) : fis::TDateTime();
}

void TDateEditPlus::SetDate(fis::TDateTime date)
{
    const QDate day = date.isNull() ? QDate() : date.toDate();
    setMaskedText(day.isValid() ? day.toString(QStringLiteral("dd/MM/yyyy")) : fis::kEmptyDateText);
}

bool TDateEditPlus::isBlank() const
{
    return Text().remove(QLatin1Char('/')).trimmed().isEmpty();
}

bool TDateEditPlus::CheckValidDate() const
{
    return isBlank() || parseDate(Text()).isValid();
}

void TDateEditPlus::showCalendar()
{
    if (!popup_) {
        popup_ = new fis::CalendarPopup(this);
        connect(popup_, &fis::CalendarPopup::picked, this, [this](QDate date) {
            fis::guarded([&] {
                SetDate(fis::TDateTime::fromDate(date));
                setFocus();
            });
        });
    }
    const QDate typed = parseDate(Text());
    popup_->calendar()->setSelectedDate(typed.isValid() ? typed : QDate::currentDate());
    popup_->adjustSize();
    popup_->move(mapToGlobal(QPoint(0, height())));
    popup_->show();
    popup_->calendar()->setFocus();
}

void TDateEditPlus::keyPressEvent(QKeyEvent *event)
{
    const bool altDown =
        event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier) != 0;
    if (altDown || (event->key() == Qt::Key_F4 && event->modifiers() == Qt::NoModifier)) {
        fis::guarded([this] { showCalendar(); });
        event->accept();
        return;
    }
    fis::MaskEdit::keyPressEvent(event);
}

void TDateEditPlus::updateColour()
{
    QPalette pal = palette();
    const QColor wanted = parseDate(Text()).isValid()
                              ? QColor(Qt::blue)
                              : QApplication::palette(this).color(QPalette::Text);
    if (pal.color(QPalette::Text) != wanted) {
        pal.setColor(QPalette::Text, wanted);
        setPalette(pal);
    }
}
