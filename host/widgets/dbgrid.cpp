#include "widgets/dbgrid.h"

#include "data/abort.h"
#include "widgets/errorguard.h"
#include "widgets/gridcell.h"
#include "widgets/hostui.h"
#include "widgets/maskedit.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

namespace fis {

// --- Keys ---------------------------------------------------------------------------------

quint16 virtualKeyOf(const QKeyEvent *event)
{
    const int key = event->key();
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return quint16((keypad ? 96 : 48) + (key - Qt::Key_0));
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return quint16(65 + (key - Qt::Key_A));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return quint16(112 + (key - Qt::Key_F1));
    if (keypad) {
        static const QHash<int, quint16> pad = {{Qt::Key_Asterisk, 106}, {Qt::Key_Plus, 107},
                                                {Qt::Key_Minus, 109},    {Qt::Key_Period, 110},
                                                {Qt::Key_Slash, 111},    {Qt::Key_Comma, 194}};
        if (const auto it = pad.constFind(key); it != pad.constEnd())
            return *it;
    }
    // Punctuation as the Brazilian (ABNT2) keyboard places it.
    static const QHash<int, quint16> keys = {
        {Qt::Key_Backspace, 8},    {Qt::Key_Tab, 9},
        {Qt::Key_Backtab, 9},      {Qt::Key_Clear, 12},
        {Qt::Key_Return, 13},      {Qt::Key_Enter, 13},
        {Qt::Key_Shift, 16},       {Qt::Key_Control, 17},
        {Qt::Key_Alt, 18},         {Qt::Key_Pause, 19},
        {Qt::Key_CapsLock, 20},    {Qt::Key_Escape, 27},
        {Qt::Key_Space, 32},       {Qt::Key_PageUp, 33},
        {Qt::Key_PageDown, 34},    {Qt::Key_End, 35},
        {Qt::Key_Home, 36},        {Qt::Key_Left, 37},
        {Qt::Key_Up, 38},          {Qt::Key_Right, 39},
        {Qt::Key_Down, 40},        {Qt::Key_Print, 44},
        {Qt::Key_Insert, 45},      {Qt::Key_Delete, 46},
        {Qt::Key_NumLock, 144},    {Qt::Key_ScrollLock, 145},
        {Qt::Key_Semicolon, 191},  {Qt::Key_Equal, 187},
        {Qt::Key_Plus, 187},       {Qt::Key_Comma, 188},
        {Qt::Key_Minus, 189},      {Qt::Key_Period, 190},
        {Qt::Key_Slash, 193},      {Qt::Key_Apostrophe, 192},
        {Qt::Key_QuoteDbl, 192},   {Qt::Key_BracketLeft, 221},
        {Qt::Key_BraceLeft, 221},  {Qt::Key_BracketRight, 220},
        {Qt::Key_BraceRight, 220}, {Qt::Key_Backslash, 226},
        {Qt::Key_Ccedilla, 186},   {Qt::Key_Bar, 226},
    };
    return keys.value(key, 0);
}

QChar typedCharOf(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Backspace:
        return QChar(8);
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return QChar(9);
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QChar(13);
    case Qt::Key_Escape:
        return QChar(27);
    case Qt::Key_Delete:
        return QChar(); // deleting happens on the key, it types nothing
    default:
        break;
    }
    const QString text = event->text();
    if (text.isEmpty() || text.at(0) == QChar(127))
        return QChar();
    return text.at(0);
}

namespace {

bool isPrintable(QChar ch)
{
    return !ch.isNull() && ch.unicode() >= 32 && ch.unicode() != 127;
}

// Symbol fonts of the old title definitions (a check mark is "4" in them): shown with the
// Unicode dingbats, since those fonts are not installed here.
QString dingbatText(const QString &text, const QFont &font)
{
    const QString family = font.family().toLower().remove(QLatin1Char(' '));
    if (family != QLatin1String("monotypesorts") && family != QLatin1String("zapfdingbats"))
        return text;
    // Most of the font lines up with the dingbats block; these few live elsewhere in Unicode.
    static const QHash<ushort, ushort> elsewhere = {{0x25, 0x260e}, {0x2a, 0x261b}, {0x48, 0x2605},
                                                    {0x6c, 0x25cf}, {0x6e, 0x25a0}, {0x73, 0x25b2},
                                                    {0x74, 0x25bc}, {0x75, 0x25c6}, {0x77, 0x25d7}};
    QString out;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x21 || u > 0x7e)
            out += c;
        else
            out += QChar(elsewhere.value(u, ushort(0x2700 + (u - 0x20))));
    }
    return out;
}

void reportLater(QObject *context, const QString &text)
{
    QTimer::singleShot(0, context, [text] {
        guarded([&] { HostUi::instance()->message(MessageKind::Error, text); });
    });
}

} // namespace

// --- Columns ------------------------------------------------------------------------------

GridColumn::GridColumn(DBGrid *grid, const QString &fieldName)
    : QObject(grid), fieldName_(fieldName)
{
    setObjectName(fieldName);
}

DBGrid *GridColumn::grid() const
{
    return static_cast<DBGrid *>(parent());
}

int GridColumn::index() const
{
    return int(grid()->columns_.indexOf(const_cast<GridColumn *>(this)));
}

Field *GridColumn::field() const
{
    if (!fieldResolved_) {
        ClientDataSet *set = grid()->dataSet();
        field_ = set ? set->findField(fieldName_) : nullptr;
        fieldResolved_ = true;
    }
    return field_.data();
}

void GridColumn::setFieldName(const QString &name)
{
    fieldName_ = name;
    fieldResolved_ = false;
    changed(Change::Layout);
}

QString GridColumn::titleCaption() const
{
    if (!title_.caption.isEmpty())
        return title_.caption;
    Field *f = field();
    return f ? f->displayLabel() : fieldName_;
}

void GridColumn::setTitleCaption(const QString &caption)
{
    title_.caption = caption;
    changed(Change::Title);
}

void GridColumn::setTitleFont(const QFont &font)
{
    title_.font = font;
    title_.hasFont = true;
    changed(Change::Title);
}

void GridColumn::setTitleAlignment(Qt::Alignment alignment)
{
    title_.alignment = alignment;
    changed(Change::Title);
}

void GridColumn::setWidth(int pixels)
{
    width_ = qMax(0, pixels);
    changed(Change::Layout);
}

void GridColumn::setVisible(bool on)
{
    if (visible_ == on)
        return;
    visible_ = on;
    changed(Change::Layout);
}

void GridColumn::setReadOnly(bool on)
{
    if (readOnly_ == on)
        return;
    readOnly_ = on;
    changed(Change::Cells);
}

void GridColumn::setButtonStyle(ColumnButtonStyle style)
{
    if (buttonStyle_ == style)
        return;
    buttonStyle_ = style;
    changed(Change::Cells);
}

void GridColumn::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    changed(Change::Cells);
}

void GridColumn::changed(Change change)
{
    grid()->columnChanged(this, change);
}

// --- Model --------------------------------------------------------------------------------

class GridModel : public QAbstractTableModel
{
public:
    explicit GridModel(DBGrid *grid) : QAbstractTableModel(grid), grid_(grid) {}

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : rows_;
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : grid_->columnCount();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        GridColumn *column = grid_->column(index.column());
        if (!column)
            return {};
        Field *field = column->field();
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (!field || index.row() >= grid_->link_->rowCount())
                return QString();
            try {
                return role == Qt::DisplayRole ? field->displayTextAt(index.row())
                                               : field->textAt(index.row());
            } catch (...) {
                // A failing get-text handler must not break painting; the cell shows empty.
                return QString();
            }
        case Qt::ToolTipRole: {
            const QString mark = grid_->rowMarkAt(index.row());
            return mark.isEmpty() ? QVariant() : QVariant(mark);
        }
        case Qt::TextAlignmentRole:
            if (column->alignment())
                return QVariant::fromValue(column->alignment());
            if (field && field->dataType() == FieldType::Float)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal)
            return {};
        GridColumn *column = grid_->column(section);
        if (!column)
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return column->title().hasFont
                       ? dingbatText(column->titleCaption(), column->title().font)
                       : column->titleCaption();
        case Qt::FontRole:
            if (column->title().hasFont)
                return column->title().font;
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(column->title().alignment);
        default:
            return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (grid_->cellEditable(index.column()))
            f |= Qt::ItemIsEditable;
        return f;
    }

    void reset()
    {
        beginResetModel();
        rows_ = grid_->link_ ? grid_->link_->rowCount() : 0;
        endResetModel();
    }
    void rowInserted(int row)
    {
        row = qBound(0, row, rows_);
        beginInsertRows({}, row, row);
        ++rows_;
        endInsertRows();
    }
    void rowRemoved(int row)
    {
        if (row < 0 || row >= rows_)
            return reset();
        beginRemoveRows({}, row, row);
        --rows_;
        endRemoveRows();
    }
    void rowMoved(int from, int to)
    {
        if (from < 0 || from >= rows_ || to < 0 || to >= rows_)
            return reset();
        if (from == to)
            return recordChanged(from);
        beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
        endMoveRows();
        recordChanged(to);
    }
    void recordChanged(int row)
    {
        if (row >= 0 && row < rows_ && columnCount() > 0)
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
    void allChanged()
    {
        if (rows_ > 0 && columnCount() > 0)
            emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
        if (columnCount() > 0)
            emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
    }
    void columnsAppended(int first, int last)
    {
        beginInsertColumns({}, first, last);
        endInsertColumns();
    }

private:
    DBGrid *grid_;
    int rows_ = 0;
};

// --- Delegate -----------------------------------------------------------------------------

class GridDelegate : public QStyledItemDelegate
{
public:
    explicit GridDelegate(DBGrid *grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &index) const override
    {
        auto *editor = new MaskEdit(parent);
        grid_->editorCreated(editor, index);
        return editor;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        // Loaded once: later changes of the row must not overwrite what is being typed.
        if (editor->property("fisLoaded").toBool())
            return;
        editor->setProperty("fisLoaded", true);
        auto *edit = static_cast<MaskEdit *>(editor);
        edit->setMaskedText(index.data(Qt::EditRole).toString());
        grid_->editorOriginal_ = edit->Text();
        edit->selectAll();
    }

    void setModelData(QWidget *editor, QAbstractItemModel *,
                      const QModelIndex &index) const override
    {
        grid_->commitEditor(static_cast<MaskEdit *>(editor), index);
    }

    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &) const override
    {
        editor->setGeometry(option.rect);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        // What the base delegate does, a plain text cell drawn the quick way.
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        if (!paintPlainCell(painter, cell)) {
            const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
            style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, option.widget);
        }
        if (!grid_->onDrawColumnCell) {
            grid_->drawRowMark(*painter, option.rect, index.row(), index.column());
            return;
        }
        // The state and palette the view gave; the cell's own background, if the model has one
        // (not the whole style option again: that formats the cell's text a second time).
        const QStyleOptionViewItem &opt = option;
        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (opt.state & QStyle::State_Active)
                                               ? QPalette::Active
                                               : QPalette::Inactive;
        GridDrawState state;
        state.row = index.row();
        state.selected = opt.state.testFlag(QStyle::State_Selected);
        state.focused = opt.state.testFlag(QStyle::State_HasFocus);
        if (state.selected) {
            state.background = opt.palette.brush(group, QPalette::Highlight);
            state.textColor = opt.palette.color(group, QPalette::HighlightedText);
        } else {
            const QVariant own = index.data(Qt::BackgroundRole);
            state.background =
                own.canConvert<QBrush>() && own.value<QBrush>().style() != Qt::NoBrush
                    ? own.value<QBrush>()
                    : opt.palette.brush(group, QPalette::Base);
            state.textColor = opt.palette.color(group, QPalette::Text);
        }
        grid_->drawCell(*painter, option.rect, index.row(), index.column(), state);
        // Over whatever the screen painted.
        grid_->drawRowMark(*painter, option.rect, index.row(), index.column());
    }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && !grid_->forwarding_) {
            if (grid_->filterEditorKey(static_cast<QKeyEvent *>(event)))
                return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    DBGrid *grid_;
};

// --- Grid ---------------------------------------------------------------------------------

DBGrid::DBGrid(QWidget *parent) : QTableView(parent)
{
    model_ = new GridModel(this);
    setModel(model_);
    setItemDelegate(new GridDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setCornerButtonEnabled(false);

    // Fixed row heights: measuring contents would walk every row of the set.
    QHeaderView *rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(rowHeight());

    QHeaderView *titles = horizontalHeader();
    titles->setSectionsClickable(true);
    titles->setHighlightSections(false);
    titles->setSortIndicatorShown(false);
    titles->setStretchLastSection(false);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A title click is the screen's event only: it neither selects the column nor sorts, and a
    // double click on a divider never measures the whole column.
    disconnect(titles, &QHeaderView::sectionPressed, this, nullptr);
    disconnect(titles, &QHeaderView::sectionEntered, this, nullptr);
    disconnect(titles, &QHeaderView::sectionHandleDoubleClicked, this, nullptr);
    connect(titles, &QHeaderView::sectionClicked, this, [this](int section) {
        if (GridColumn *c = column(section); c && onTitleClick)
            guarded([&] { onTitleClick(c); });
    });
    connect(titles, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (!applyingLayout_ && section >= 0 && section < columnCount() && size > 0)
            columns_[section]->width_ = size;
    });

    connect(this, &QAbstractItemView::pressed, this, [this](const QModelIndex &) {
        // A press that the set refused to follow does not end in a cell click.
        pressRefused_ = moveRefused_;
    });
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        if (pressRefused_ || !index.isValid() || !onCellClick)
            return;
        if (GridColumn *c = column(index.column()))
            guarded([&] { onCellClick(c); });
    });
    connect(qApp, &QApplication::focusChanged, this, &DBGrid::focusMoved);

    applyOptions();
}

DBGrid::~DBGrid()
{
    for (const auto &c : std::as_const(linkConnections_))
        disconnect(c);
}

void DBGrid::setDataLink(DataLink *link)
{
    for (const auto &c : std::as_const(linkConnections_))
        disconnect(c);
    linkConnections_.clear();
    link_ = link;
    if (link) {
        // The set is in the middle of an operation: the view follows without moving it back.
        auto quietly = [this](auto change) {
            ++syncing_;
            change();
            --syncing_;
        };
        linkConnections_ = {
            connect(link, &DataLink::dataSetChanged, this, [this] { refreshFromSet(); }),
            connect(link, &DataLink::linkChanged, this, [this] { resetFromSet(); }),
            connect(link, &DataLink::fieldsChanged, this,
                    [this, quietly] {
                        quietly([this] {
                            invalidateFields();
                            model_->allChanged();
                            applyColumnLayout();
                        });
                    }),
            connect(link, &DataLink::rowInserted, this,
                    [this, quietly](int row) { quietly([&] { model_->rowInserted(row); }); }),
            connect(link, &DataLink::rowRemoved, this,
                    [this, quietly](int row) { quietly([&] { model_->rowRemoved(row); }); }),
            connect(link, &DataLink::rowMoved, this,
                    [this, quietly](int from, int to) {
                        quietly([&] { model_->rowMoved(from, to); });
                    }),
            connect(link, &DataLink::recordChanged, this,
                    [this](int row) { model_->recordChanged(row); }),
            connect(link, &DataLink::activeRowChanged, this, [this](int) { syncFromSet(); }),
            connect(link, &QObject::destroyed, this,
                    [this] {
                        link_ = nullptr;
                        resetFromSet();
                    }),
        };
    }
    resetFromSet();
}

void DBGrid::refreshFromSet()
{
    // As many rows as before (display updates given back after a pass over the set): the cells
    // are redrawn without resetting the view, so that a click being made in it still ends in
    // a click and the current cell stays.
    if (!link_ || !link_->active() || link_->rowCount() != model_->rowCount() || editor_)
        return resetFromSet();
    ++syncing_;
    invalidateFields();
    model_->allChanged();
    applyColumnLayout();
    --syncing_;
    syncFromSet();
}

void DBGrid::resetFromSet()
{
    ++syncing_;
    invalidateFields();
    drawFailureReported_ = false;
    model_->reset();
    applyColumnLayout();
    --syncing_;
    syncFromSet();
}

GridColumn *DBGrid::addColumn(const QString &fieldName)
{
    auto *c = new GridColumn(this, fieldName);
    const int index = columnCount();
    columns_.append(c);
    model_->columnsAppended(index, index);
    applyColumnLayout(index); // the columns before it keep their widths
    return c;
}

void DBGrid::updateGeometries()
{
    // A grid not on screen places its title bar and scroll bars once, when shown: its columns
    // are added and fitted one by one, each asking the titles' size again.
    if (!isVisible()) {
        geometriesPending_ = true;
        return;
    }
    geometriesPending_ = false;
    QTableView::updateGeometries();
}

void DBGrid::showEvent(QShowEvent *event)
{
    if (geometriesPending_)
        updateGeometries();
    QTableView::showEvent(event);
}

GridColumn *DBGrid::column(int index) const
{
    return index >= 0 && index < columnCount() ? columns_.at(index) : nullptr;
}

int DBGrid::columnIndexOf(const QString &fieldName) const
{
    for (int i = 0; i < columnCount(); ++i) {
        // Names of different lengths never match, whatever their case: no need to fold them.
        const QString &name = columns_.at(i)->fieldName();
        if (name.size() == fieldName.size() && name.compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

GridColumn *DBGrid::findColumn(const QString &fieldName) const
{
    return column(columnIndexOf(fieldName));
}

void DBGrid::setOptions(GridOptions options)
{
    options_ = options;
    applyOptions();
}

void DBGrid::setOption(GridOption option, bool on)
{
    options_.setFlag(option, on);
    applyOptions();
}

void DBGrid::setReadOnly(bool on)
{
    readOnly_ = on;
    viewport()->update();
}

void DBGrid::applyOptions()
{
    ++syncing_;
    horizontalHeader()->setVisible(testOption(GridOption::Titles));
    horizontalHeader()->setStretchLastSection(true); // the last column takes the rest of the width
    horizontalHeader()->setSectionResizeMode(
        testOption(GridOption::ColumnResize) ? QHeaderView::Interactive : QHeaderView::Fixed);
    // The toolkit draws both kinds of line or none.
    setShowGrid(testOption(GridOption::ColLines) || testOption(GridOption::RowLines));
    setTabKeyNavigation(testOption(GridOption::Tabs));
    setSelectionBehavior(testOption(GridOption::RowSelect) ? QAbstractItemView::SelectRows
                                                           : QAbstractItemView::SelectItems);
    setEditTriggers(testOption(GridOption::Editing)
                        ? QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                        : QAbstractItemView::NoEditTriggers);

    QPalette pal = palette();
    const QPalette app = QApplication::palette(this);
    if (testOption(GridOption::AlwaysShowSelection)) {
        pal.setColor(QPalette::Inactive, QPalette::Highlight,
                     app.color(QPalette::Active, QPalette::Highlight));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     app.color(QPalette::Active, QPalette::HighlightedText));
    } else {
        pal.setColor(QPalette::Inactive, QPalette::Highlight,
                     pal.color(QPalette::Inactive, QPalette::Base));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     pal.color(QPalette::Inactive, QPalette::Text));
    }
    setPalette(pal);
    --syncing_;
    syncFromSet();
}

int DBGrid::rowHeight() const
{
    return fontMetrics().height() + 4;
}

void DBGrid::columnChanged(GridColumn *column, GridColumn::Change change)
{
    if (change == GridColumn::Change::Layout) {
        column->fieldResolved_ = false;
        applyColumnLayout();
    }
    const int index = column->index();
    // The header relays itself out on every title change: a change to the cells leaves it be.
    if (change != GridColumn::Change::Cells)
        emit model_->headerDataChanged(Qt::Horizontal, index, index);
    if (editor_ && editorIndex_.column() == index)
        updateEditorButton();
    viewport()->update();
}

int DBGrid::fittedWidth(GridColumn *c) const
{
    // Cells and titles are drawn with some padding on each side.
    constexpr int kCellPadding = 12;
    constexpr int kSampleRows = 200; // a large set is measured on its first rows only
    constexpr int kMaxChars = 45;    // a long text does not take the whole grid
    const QFontMetrics metrics = fontMetrics();
    QFontMetrics titleMetrics = metrics;
    if (c->title().hasFont)
        titleMetrics = QFontMetrics(c->title().font);
    int width = titleMetrics.horizontalAdvance(c->titleCaption()) + kCellPadding;

    const Field *f = c->field();
    const ClientDataSet *set = dataSet();
    const int rows = f && set && set->active() ? qMin(set->recordCount(), kSampleRows) : 0;
    int content = 0;
    if (rows > 0) {
        // Measuring shapes the text, which costs far more than making it: only the longest
        // texts are measured, the widest being one of them.
        constexpr int kMeasured = 8;
        QList<QString> texts;
        texts.reserve(rows);
        for (int row = 0; row < rows; ++row)
            texts.append(f->displayTextAt(row));
        const auto longest = texts.begin() + qMin<qsizetype>(kMeasured, texts.size());
        std::partial_sort(texts.begin(), longest, texts.end(),
                          [](const QString &a, const QString &b) { return a.size() > b.size(); });
        for (auto it = texts.begin(); it != longest; ++it) {
            if (std::find(texts.begin(), it, *it) == it) // the same text is as wide again
                content = qMax(content, metrics.horizontalAdvance(*it));
        }
    } else {
        // No rows yet: room for the field's width in digits, the widest of the usual characters.
        const int chars = f ? qMin(f->displayWidth(), 20) : 10;
        content = qMax(chars, 1) * metrics.horizontalAdvance(QLatin1Char('0'));
    }
    content = qMin(content, kMaxChars * metrics.averageCharWidth());
    width = qMax(width, content + kCellPadding);
    // A width set for the column is its least.
    return qMax(width, c->width());
}

void DBGrid::applyColumnLayout(int first)
{
    ++syncing_; // hiding the current column moves the view's current cell: not a column change
    applyingLayout_ = true;
    for (int i = qMax(0, first); i < columnCount(); ++i) {
        GridColumn *c = columns_.at(i);
        setColumnHidden(i, !c->visible());
        if (!c->visible())
            continue; // fitted when shown
        const int width = fittedWidth(c);
        if (columnWidth(i) != width)
            setColumnWidth(i, width);
    }
    applyingLayout_ = false;
    --syncing_;
    // A hidden selected column gives way to the first visible one (nothing is being left).
    if (GridColumn *c = column(selected_); c && !c->visible()) {
        for (int i = 0; i < columnCount(); ++i) {
            if (columns_.at(i)->visible()) {
                selected_ = i;
                break;
            }
        }
        syncFromSet();
    }
}

void DBGrid::invalidateFields()
{
    for (GridColumn *c : std::as_const(columns_))
        c->fieldResolved_ = false;
}

void DBGrid::syncFromSet()
{
    if (!selectionModel())
        return;
    const int row = link_ ? link_->currentRow() : -1;
    ++syncing_;
    if (row < 0 || row >= model_->rowCount() || columnCount() == 0) {
        selectionModel()->clearCurrentIndex();
        selectionModel()->clearSelection();
    } else {
        const QModelIndex target = model_->index(row, qBound(0, selected_, columnCount() - 1));
        if (currentIndex() != target) {
            selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect |
                                                          (testOption(GridOption::RowSelect)
                                                               ? QItemSelectionModel::Rows
                                                               : QItemSelectionModel::NoUpdate));
        }
        if (!hasPendingReopen())
            scrollTo(target);
    }
    --syncing_;
}

bool DBGrid::moveSetTo(int row)
{
    ClientDataSet *set = dataSet();
    if (!set || !set->active())
        return false;
    if (set->currentRow() == row)
        return true;
    const bool ok = guarded([&] {
        int target = row;
        // Leaving a row posts it; an insert nothing was typed into disappears, which shifts
        // the rows after it.
        const int before = set->recordCount();
        const int from = set->currentRow();
        set->checkBrowseMode();
        if (set->recordCount() < before && from >= 0 && from < target)
            --target;
        set->setRecNo(qBound(0, target, set->recordCount() - 1) + 1);
    });
    return ok;
}

bool DBGrid::changeColumn(int index)
{
    if (index == selected_)
        return true;
    if (onColExit && !guarded(onColExit))
        return false;
    selected_ = index;
    if (onColEnter)
        guarded(onColEnter);
    return true;
}

bool DBGrid::setSelectedIndex(int index)
{
    GridColumn *c = column(index);
    if (!c || !c->visible())
        return false;
    if (!changeColumn(index))
        return false;
    syncFromSet();
    return true;
}

Field *DBGrid::selectedField() const
{
    GridColumn *c = selectedColumn();
    return c ? c->field() : nullptr;
}

QString DBGrid::selectedFieldName() const
{
    GridColumn *c = selectedColumn();
    return c ? c->fieldName() : QString();
}

bool DBGrid::setSelectedField(const QString &fieldName)
{
    return setSelectedIndex(columnIndexOf(fieldName));
}

void DBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (!syncing_)
        moveRefused_ = false;
    QTableView::currentChanged(current, previous); // commits and closes an open editor
    if (syncing_)
        return;
    if (hasPendingReopen()) {
        // The typed value was refused: stay in the cell, where the editor opens again.
        moveRefused_ = true;
        ++syncing_;
        selectionModel()->setCurrentIndex(reopenIndex_, QItemSelectionModel::ClearAndSelect);
        --syncing_;
        return;
    }
    if (!current.isValid())
        return;
    if (!link_ || current.row() != link_->currentRow()) {
        if (!moveSetTo(current.row()) || !link_ || link_->currentRow() != current.row()) {
            moveRefused_ = true;
            syncFromSet();
            return;
        }
    }
    if (current.column() != selected_ && !changeColumn(current.column()))
        moveRefused_ = true;
    syncFromSet();
}

bool DBGrid::canModify() const
{
    ClientDataSet *set = dataSet();
    return set && set->active() && !readOnly_;
}

bool DBGrid::canAppend() const
{
    return canModify() && testOption(GridOption::Editing);
}

bool DBGrid::cellEditable(int index) const
{
    GridColumn *c = column(index);
    if (!c || !canAppend() || c->readOnly() || !c->visible())
        return false;
    Field *f = c->field();
    return f && !f->readOnly();
}

// --- Keys in the grid -----------------------------------------------------------------------

bool DBGrid::runKeyDown(quint16 &key, Qt::KeyboardModifiers modifiers)
{
    if (!onKeyDown || key == 0)
        return key != 0;
    quint16 k = key;
    const bool ok = guarded([&] { onKeyDown(k, modifiers); });
    key = ok ? k : 0;
    return key != 0;
}

bool DBGrid::runKeyPress(QChar &ch)
{
    if (!onKeyPress || ch.isNull())
        return !ch.isNull();
    QChar c = ch;
    const bool ok = guarded([&] { onKeyPress(c); });
    ch = ok ? c : QChar();
    return !ch.isNull();
}

void DBGrid::keyPressEvent(QKeyEvent *event)
{
    quint16 key = virtualKeyOf(event);
    QChar ch = typedCharOf(event);
    if (key == 0 && ch.isNull()) {
        QTableView::keyPressEvent(event);
        return;
    }
    const QPointer<DBGrid> alive(this);
    const bool keyPassed = runKeyDown(key, event->modifiers());
    if (keyPassed && alive)
        handleGridKey(event, key);
    const bool charPassed = alive && runKeyPress(ch);
    if (charPassed && alive)
        handleGridChar(ch, event->modifiers());
    event->accept();
}

void DBGrid::handleGridKey(QKeyEvent *event, quint16 key)
{
    ClientDataSet *set = dataSet();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (key) {
    case 13: // Enter acts as a character
    case 8:
        return;
    case 27:
        if (set && (set->state() == DataSetState::Edit || set->state() == DataSetState::Insert))
            guarded([&] { set->cancel(); });
        return;
    case 45:
        if (mods == Qt::NoModifier && canAppend())
            guarded([&] { set->insert(); });
        return;
    case 46:
        if (mods == Qt::ControlModifier && canModify() && !set->isEmpty()) {
            guarded([&] {
                if (testOption(GridOption::ConfirmDelete) &&
                    !HostUi::instance()->message(MessageKind::Confirmation,
                                                 QStringLiteral("Excluir registro?"), this))
                    return;
                set->deleteRecord();
            });
        }
        return;
    case 40:
        if (mods == Qt::NoModifier && set && set->active() &&
            set->currentRow() == set->recordCount() - 1) {
            // Below the last row: a new row, unless the last one is an untouched insert.
            if (set->state() == DataSetState::Insert && !set->modified())
                return;
            if (canAppend())
                guarded([&] { set->append(); });
            return;
        }
        break;
    case 113:
        if (cellEditable(selected_))
            QTableView::edit(currentIndex(), QAbstractItemView::AllEditTriggers, nullptr);
        return;
    default:
        break;
    }
    // Navigation by the toolkit, without the character (typing is the character stage's).
    QKeyEvent navigation(QEvent::KeyPress, event->key(), event->modifiers(), QString());
    QTableView::keyPressEvent(&navigation);
}

void DBGrid::handleGridChar(QChar ch, Qt::KeyboardModifiers modifiers)
{
    if (ch == QChar(13)) {
        if (cellEditable(selected_))
            QTableView::edit(currentIndex(), QAbstractItemView::AllEditTriggers, nullptr);
        return;
    }
    if (!isPrintable(ch) || !cellEditable(selected_) || !currentIndex().isValid())
        return;
    // The character opens the editor and is typed into it.
    if (!QTableView::edit(currentIndex(), QAbstractItemView::AllEditTriggers, nullptr) || !editor_)
        return;
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, modifiers & ~Qt::ControlModifier,
                    QString(ch));
    ++forwarding_;
    QApplication::sendEvent(editor_, &typed);
    --forwarding_;
}

bool DBGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    if (!index.isValid())
        return false;
    if (trigger != QAbstractItemView::AllEditTriggers &&
        trigger != QAbstractItemView::AnyKeyPressed && !cellEditable(index.column()))
        return false;
    // Editing happens on the set's current row only.
    if (index.row() != (link_ ? link_->currentRow() : -1) && !moveSetTo(index.row()))
        return false;
    return QTableView::edit(index, trigger, event);
}

// --- The cell editor ------------------------------------------------------------------------

void DBGrid::editorCreated(MaskEdit *editor, const QModelIndex &index)
{
    editor_ = editor;
    editorIndex_ = index;
    editorDirty_ = false;
    editor->setObjectName(QStringLiteral("InplaceEditor"));
    editor->setFrame(false);
    GridColumn *c = column(index.column());
    Field *f = c ? c->field() : nullptr;
    if (f) {
        editor->setEditMask(f->editMask());
        if (f->isText() && f->editMask().isEmpty())
            editor->setMaxLength(f->size());
    }
    auto *button =
        editor->addAction(style()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton),
                          QLineEdit::TrailingPosition);
    button->setObjectName(QStringLiteral("actEditButton"));
    button->setText(QStringLiteral("..."));
    connect(button, &QAction::triggered, this, [this] { clickEditButton(); });
    editorButton_ = button;
    connect(editor, &QLineEdit::textEdited, this, [this] { editorTextEdited(); });
    updateEditorButton();
}

void DBGrid::updateEditorButton()
{
    if (!editor_ || !editorButton_)
        return;
    GridColumn *c = column(editorIndex_.column());
    editorButton_->setVisible(c && c->buttonStyle() == ColumnButtonStyle::Ellipsis);
}

void DBGrid::editorTextEdited()
{
    if (editorDirty_)
        return;
    editorDirty_ = true;
    // The first change puts the row in edit state.
    ClientDataSet *set = dataSet();
    if (!set || set->state() != DataSetState::Browse)
        return;
    if (!guarded([&] { set->edit(); })) {
        // Refused: the editor goes away with what was typed undone.
        editorDirty_ = false;
        QPointer<MaskEdit> editor = editor_;
        QTimer::singleShot(0, this, [this, editor] {
            if (editor)
                QTableView::closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        });
    }
}

bool DBGrid::commitEditor(MaskEdit *editor, const QModelIndex &index)
{
    if (!editorDirty_ || editor->Text() == editorOriginal_)
        return true;
    GridColumn *c = column(index.column());
    Field *f = c ? c->field() : nullptr;
    const QString text = editor->Text();
    const bool ok = f && guarded([&] {
                        ClientDataSet *set = f->dataSet();
                        if (set->currentRow() != index.row())
                            set->setRecNo(index.row() + 1);
                        if (set->state() == DataSetState::Browse)
                            set->edit();
                        f->setText(text);
                    });
    if (!ok) {
        reopenIndex_ = index;
        reopenText_ = text;
    } else {
        editorDirty_ = false;
        editorOriginal_ = text;
    }
    return ok;
}

bool DBGrid::hasPendingReopen() const
{
    return reopenIndex_.isValid();
}

void DBGrid::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (editor == editor_) {
        editor_ = nullptr;
        editorButton_ = nullptr;
    }
    if (!hasPendingReopen()) {
        QTableView::closeEditor(editor, hint);
        return;
    }
    QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    // Nothing typed is lost: the editor opens again on the cell with the refused text.
    QTimer::singleShot(0, this, [this] {
        const QPersistentModelIndex index = reopenIndex_;
        const QString text = reopenText_;
        reopenIndex_ = QPersistentModelIndex();
        if (!index.isValid())
            return;
        ++syncing_;
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        --syncing_;
        if (QTableView::edit(index, QAbstractItemView::AllEditTriggers, nullptr) && editor_) {
            editor_->setMaskedText(text);
            editorDirty_ = true;
            editor_->setFocus();
        }
    });
}

bool DBGrid::filterEditorKey(QKeyEvent *event)
{
    quint16 key = virtualKeyOf(event);
    QChar ch = typedCharOf(event);
    if (key == 0 && ch.isNull())
        return false;
    const QChar original = ch;
    const bool keyPassed = runKeyDown(key, event->modifiers());
    const bool charPassed = runKeyPress(ch);
    QWidget *editor = editor_;
    if (!editor)
        return true;

    if (keyPassed) {
        // Ctrl+Enter presses the edit button; Tab (on its key, whatever happened to its
        // character) and the row keys leave the cell: the value is committed, the editor closes
        // and the grid moves as it does without an editor.
        if (key == 13 && event->modifiers().testFlag(Qt::ControlModifier)) {
            GridColumn *c = column(editorIndex_.column());
            if (c && c->buttonStyle() == ColumnButtonStyle::Ellipsis)
                clickEditButton();
            return true;
        }
        if (key == 9 || key == 38 || key == 40 || key == 33 || key == 34) {
            QKeyEvent navigation(QEvent::KeyPress, event->key(), event->modifiers(), QString());
            const QPersistentModelIndex cell = editorIndex_;
            setFocus();
            // Losing the focus may have committed and closed the editor already.
            if (indexWidget(cell) == editor) {
                QTableView::commitData(editor);
                QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
            }
            if (!hasPendingReopen())
                handleGridKey(&navigation, key);
            return true;
        }
    }

    // What the editor does itself: keys without a character act on the key, characters (and
    // the control characters Backspace, Enter, Escape, Tab) act on the character.
    const bool charKey = !original.isNull();
    if (!charKey)
        return !keyPassed;
    if (!charPassed)
        return true;
    if (ch == original && keyPassed)
        return false;
    // Deliver the character alone (possibly replaced by the handler).
    int qtKey = Qt::Key_unknown;
    switch (ch.unicode()) {
    case 8:
        qtKey = Qt::Key_Backspace;
        break;
    case 9:
        qtKey = Qt::Key_Tab;
        break;
    case 13:
        qtKey = Qt::Key_Return;
        break;
    case 27:
        qtKey = Qt::Key_Escape;
        break;
    default:
        break;
    }
    QKeyEvent typed(QEvent::KeyPress, qtKey, event->modifiers(), QString(ch));
    ++forwarding_;
    QApplication::sendEvent(editor, &typed);
    --forwarding_;
    return true;
}

void DBGrid::clickEditButton()
{
    if (!onEditButtonClick)
        return;
    GridColumn *c = column(editor_ ? editorIndex_.column() : selected_);
    const Field *f = c ? c->field() : nullptr;
    const QString before = f ? f->text() : QString();
    if (!guarded(onEditButtonClick) || !editor_ || !f)
        return;
    // The handler gave the field a value (a pick): the editor shows it, nothing left to commit.
    if (f->text() != before) {
        editor_->setMaskedText(f->text());
        editorOriginal_ = editor_->Text();
        editorDirty_ = false;
    }
}

bool DBGrid::showsEditButton(int row, int column) const
{
    return editor_ && editorButton_ && editorIndex_.row() == row &&
           editorIndex_.column() == column && editorButton_->isVisible();
}

QString DBGrid::rowMarkAt(int row) const
{
    if (!rowMark || row < 0 || !link_ || row >= link_->rowCount())
        return QString();
    QString mark;
    guarded([&] { mark = rowMark(row); });
    return mark;
}

void DBGrid::drawRowMark(QPainter &painter, const QRect &rect, int row, int columnIndex) const
{
    for (int i = 0; i < columnCount(); ++i) {
        if (columns_.at(i)->visible()) {
            if (i != columnIndex)
                return;
            break;
        }
    }
    if (rowMarkAt(row).isEmpty())
        return;
    const int size = qMin(8, rect.height() / 2);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 0, 0));
    painter.drawPolygon(QPolygon(
        {rect.topLeft(), rect.topLeft() + QPoint(size, 0), rect.topLeft() + QPoint(0, size)}));
    painter.restore();
}

// --- Focus ----------------------------------------------------------------------------------

// The screen a widget belongs to: the widget shown in a workspace frame (QMdiSubWindow), or the
// window.
static QWidget *screenOf(QWidget *w)
{
    while (w && !w->isWindow()) {
        if (qobject_cast<QMdiSubWindow *>(w->parentWidget()))
            return w;
        w = w->parentWidget();
    }
    return w;
}

bool DBGrid::ownsWidget(QWidget *w) const
{
    return w && (w == this || isAncestorOf(w));
}

void DBGrid::focusMoved(QWidget *, QWidget *now)
{
    const bool inside = ownsWidget(now);
    if (inside && !hasFocusInside_) {
        hasFocusInside_ = true;
        if (onEnter)
            guarded(onEnter);
        return;
    }
    // Only another control of the same screen counts as leaving the grid: not another window
    // (a message, a popup), not the host around the screen (its menu bar, or the frame that a
    // click on a toolbar button hands the focus to on its way back to the grid), nor a container
    // of the grid that a click on something taking no focus passes it up to.
    if (now && now->isAncestorOf(this))
        return;
    if (!inside && hasFocusInside_ && now && screenOf(now) == screenOf(this)) {
        hasFocusInside_ = false;
        ClientDataSet *set = dataSet();
        if (testOption(GridOption::CancelOnExit) && set && set->state() == DataSetState::Insert &&
            !set->modified())
            guarded([&] { set->cancel(); });
        if (onExit)
            guarded(onExit);
    }
}

// --- Painting -------------------------------------------------------------------------------

void DBGrid::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if (++paintCount_ == 1)
        emit firstPaintDone();
}

void DBGrid::drawCell(QPainter &painter, const QRect &rect, int row, int columnIndex,
                      const GridDrawState &state)
{
    GridColumn *c = column(columnIndex);
    if (!c || !onDrawColumnCell)
        return;
    painter.save();
    painter.setClipRect(rect);
    painter.setBrush(state.background);
    painter.setPen(state.textColor);
    painter.setFont(font());
    try {
        onDrawColumnCell(painter, rect, c, state);
    } catch (const EAbort &) {
    } catch (...) {
        // Painting repeats; the failure is told once, after the paint.
        if (!drawFailureReported_) {
            drawFailureReported_ = true;
            reportLater(this, currentExceptionText());
        }
    }
    painter.restore();
    Q_UNUSED(row);
}

} // namespace fis
