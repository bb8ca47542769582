// Grid drawing of the emission screen and the rural-map grid: the tick and status pictures, the
// company-name texts, ticking maps by cell and title click, and the enabling while the map grid
// is shown.
#include "emission/Cli_fis02900.h"

#include <QAction>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScopeGuard>
#include <QToolButton>

using fis::ClientDataSet;
using fis::GridColumn;
using fis::GridDrawState;

namespace {

const QColor kOlive(128, 128, 0); // transparent background of every picture

bool hasRows(const ClientDataSet *set)
{
    return set && set->active() && set->recordCount() > 0;
}

// The value of a field in a view row of the set, trimmed ("" when the field is missing).
QString rowValue(const ClientDataSet *set, const char *field, int row)
{
    const fis::Field *f = set->findField(QString::fromLatin1(field));
    return f ? f->valueAt(row).toString().trimmed() : QString();
}

QString currentTick(const ClientDataSet *set)
{
    if (!hasRows(set))
        return {};
    const fis::Field *f = set->findField(QStringLiteral("IDCHECK"));
    return f ? f->asString().trimmed() : QString();
}

QPixmap blankPicture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(kOlive);
    return pixmap;
}

QPixmap checkBoxPicture(bool ticked)
{
    QPixmap pixmap = blankPicture(16);
    QPainter p(&pixmap);
    p.setPen(QColor(64, 64, 64));
    p.setBrush(Qt::white);
    p.drawRect(2, 2, 11, 11);
    if (ticked) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(Qt::black, 2));
        p.drawPolyline(QPolygon({QPoint(4, 7), QPoint(7, 10), QPoint(11, 4)}));
    }
    return pixmap;
}

QPixmap approvedPicture()
{
    QPixmap pixmap = blankPicture(20);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(0, 0, 255), 3));
    p.drawPolyline(QPolygon({QPoint(3, 10), QPoint(8, 15), QPoint(17, 4)}));
    return pixmap;
}

QPixmap notApprovedPicture()
{
    QPixmap pixmap = blankPicture(18);
    QPainter p(&pixmap);
    p.setPen(QColor(96, 96, 96));
    p.setBrush(Qt::white);
    p.drawRect(2, 1, 12, 15);
    p.setPen(QPen(QColor(255, 0, 0), 2));
    p.drawLine(5, 5, 12, 12);
    p.drawLine(12, 5, 5, 12);
    return pixmap;
}

// Updates of the grids over a set stay off while it lives (also when the walk fails).
class ControlsOff
{
public:
    explicit ControlsOff(ClientDataSet *set) : set_(set) { set_->disableControls(); }
    ~ControlsOff() { set_->enableControls(); }
    ControlsOff(const ControlsOff &) = delete;
    ControlsOff &operator=(const ControlsOff &) = delete;

private:
    ClientDataSet *set_;
};

} // namespace

void TfrmEmiPrevSocial::createPictures()
{
    const auto picture = [this](const char *name, const QPixmap &pixmap) {
        auto *label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setPixmap(pixmap);
        label->hide();
        return label;
    };
    imgAprovado = picture("imgAprovado", approvedPicture());
    imgNAprovado = picture("imgNAprovado", notApprovedPicture());
    imgCheck = picture("imgCheck", checkBoxPicture(true));
    imgUncheck = picture("imgUncheck", checkBoxPicture(false));
}

const QLabel *TfrmEmiPrevSocial::tickPicture(const QString &value) const
{
    if (value == QLatin1String("C"))
        return imgCheck;
    if (value == QLatin1String("U"))
        return imgUncheck;
    return nullptr;
}

void TfrmEmiPrevSocial::paintPicture(QPainter &painter, const QRect &rect, const QLabel *picture,
                                     const GridDrawState &state)
{
    QPixmap work;
    if (picture) {
        const QPixmap source = picture->pixmap();
        auto it = m_maskedPictures.constFind(source.cacheKey());
        if (it == m_maskedPictures.constEnd()) {
            QPixmap copy(source);
            if (!copy.isNull())
                copy.setMask(copy.createMaskFromColor(kOlive));
            it = m_maskedPictures.insert(source.cacheKey(), copy);
        }
        work = *it;
    }
    bmPict = &work;
    const auto release = qScopeGuard([] { bmPict = nullptr; });
    painter.fillRect(rect, state.background);
    if (!bmPict->isNull()) {
        // Rows below the picture are transparent: only the picture's own height is copied.
        const int width = bmPict->width();
        const int height = qMin(rect.height(), bmPict->height());
        painter.drawPixmap(QRect(rect.left() + 4, rect.top(), width, height), *bmPict,
                           QRect(0, 0, width, height));
    }
}

void TfrmEmiPrevSocial::paintText(QPainter &painter, const QRect &rect, const QString &text,
                                  const GridDrawState &state)
{
    painter.fillRect(rect, state.background);
    painter.setPen(state.textColor);
    painter.drawText(rect.adjusted(3, 3, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     text);
}

void TfrmEmiPrevSocial::dbgPadraoDrawColumnCell(QPainter &painter, const QRect &rect,
                                                GridColumn *column, const GridDrawState &state)
{
    const bool exits = stOperacao == QLatin1String("S");
    const ClientDataSet *set = exits ? cdsAprov : cdsAprovAgrup;
    // The row index belongs to the grid's set: another set's rows are never read for it.
    if (!column || !hasRows(set) || dbgPadrao->dataSet() != set || state.row < 0 ||
        state.row >= set->recordCount())
        return;
    const QString field = column->fieldName();
    const int row = state.row;
    if (field == QLatin1String("IDCHECK")) {
        paintPicture(painter, rect, tickPicture(rowValue(set, "IDCHECK", row)), state);
    } else if (field == QLatin1String("IDSTATUSGUIA")) {
        if (rowValue(set, "IDSTATUSGUIA", row) == QLatin1String("S"))
            paintPicture(painter, rect, imgAprovado, state);
    } else if (exits && field == QLatin1String("NMRAZSOCCLIE")) {
        const bool entry = rowValue(set, "IDENTRSAIDOP", row) == QLatin1String("E");
        const fis::Field *name =
            set->findField(entry ? QStringLiteral("NMRAZSOCFORN") : QStringLiteral("NMRAZSOCCLIE"));
        paintText(painter, rect, name ? name->valueAt(row).toString() : QString(), state);
    } else if (!exits && field == QLatin1String("NMRAZSOCFORN")) {
        const fis::Field *name = set->findField(QStringLiteral("NMRAZSOCFORN"));
        paintText(painter, rect, name ? name->valueAt(row).toString() : QString(), state);
    }
}

void TfrmEmiPrevSocial::dbgFunRuralDrawColumnCell(QPainter &painter, const QRect &rect,
                                                  GridColumn *column, const GridDrawState &state)
{
    if (!column || !hasRows(cdsFunRural) || state.row < 0 ||
        state.row >= cdsFunRural->recordCount())
        return;
    const QString field = column->fieldName();
    if (field == QLatin1String("IDCHECK"))
        paintPicture(painter, rect, tickPicture(rowValue(cdsFunRural, "IDCHECK", state.row)),
                     state);
    else if (field == QLatin1String("IDSTATUS"))
        paintPicture(painter, rect,
                     rowValue(cdsFunRural, "IDSTATUS", state.row) == QLatin1String("S")
                         ? imgAprovado
                         : imgNAprovado,
                     state);
}

void TfrmEmiPrevSocial::applyMapOutputRule()
{
    setOutputEnabled(currentTick(cdsFunRural) == QLatin1String("C"));
    mnuImprimir->setEnabled(sbtPrint->isEnabled());
    mnuVisualizar->setEnabled(sbtPreview->isEnabled());
    mnuSalvarComo->setEnabled(sbtSalvarComo->isEnabled());
}

void TfrmEmiPrevSocial::dbgFunRuralCellClick(GridColumn *column)
{
    if (!hasRows(cdsFunRural))
        return;
    if (column && column->fieldName() == QLatin1String("IDCHECK")) {
        fis::Field *tick = cdsFunRural->fieldByName(QStringLiteral("IDCHECK"));
        cdsFunRural->edit();
        tick->setAsString(tick->asString().trimmed() == QLatin1String("U") ? QStringLiteral("C")
                                                                           : QStringLiteral("U"));
        const fis::DataSetState st = cdsFunRural->state();
        if (st == fis::DataSetState::Edit || st == fis::DataSetState::Insert) {
            try {
                cdsFunRural->post();
            } catch (...) {
                cdsFunRural->cancel();
                throw;
            }
        }
    }
    applyMapOutputRule();
}

void TfrmEmiPrevSocial::dbgFunRuralTitleClick(GridColumn *column)
{
    if (!hasRows(cdsFunRural))
        return;
    if (column && column->fieldName() == QLatin1String("IDCHECK")) {
        ClientDataSet *set = dbgFunRural->dataSet() ? dbgFunRural->dataSet() : cdsFunRural;
        {
            const ControlsOff off(set);
            fis::Field *tick = set->fieldByName(QStringLiteral("IDCHECK"));
            set->first();
            while (!set->eof()) {
                set->edit();
                tick->setAsString(tick->asString().trimmed() == QLatin1String("C")
                                      ? QStringLiteral("U")
                                      : QStringLiteral("C"));
                // A row that cannot be stored keeps its old tick; the walk stops there.
                try {
                    set->post();
                } catch (...) {
                    set->cancel();
                    throw;
                }
                set->next();
            }
        }
        set->first();
    }
    applyMapOutputRule();
}

void TfrmEmiPrevSocial::dtsFunRuralStateChange()
{
    if (reportIndex() == 2 && hasRows(cdsFunRural)) {
        setToolsEnabled(true);
        mnuConfigImpress->setEnabled(sbtConfigImpress->isEnabled());
        mnuAtualizar->setEnabled(sbtVerificar->isEnabled());
        mnuProcurar->setEnabled(sbtProcurar->isEnabled());
        applyMapOutputRule();
        return;
    }
    setToolsEnabled(false);
    setOutputEnabled(false);
    mirrorMenu();
}

void TfrmEmiPrevSocial::cdsFunRuralAfterScroll(ClientDataSet &)
{
    setOutputEnabled(reportIndex() == 2 && currentTick(cdsFunRural) == QLatin1String("C"));
    mnuImprimir->setEnabled(sbtPrint->isEnabled());
    mnuVisualizar->setEnabled(sbtPreview->isEnabled());
    mnuSalvarComo->setEnabled(sbtSalvarComo->isEnabled());
}
