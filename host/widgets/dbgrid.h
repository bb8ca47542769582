#pragma once
// The data grid: a table view over a data link. Its current row is the record set's current row
// (both ways), its cells show the fields' display texts and edit the fields through their text,
// and its events reach the screen as handlers that run inside the error guard.
//
// Keys reach the handlers in two stages, as the screens expect: key down with a Windows virtual
// key number (setting it to 0 discards what the grid would do with the key), then key press with
// the character the key types (setting it to QChar() discards the character). The stages are
// independent: a discarded key down still delivers its character. While a cell editor is open its
// keys pass through the same two stages; Tab there acts on its key (it leaves the cell for the
// next one, as in any grid, without opening an editor there), whatever the character stage did
// with its character.
//
// A row may carry a mark (rowMark): a short text the grid shows as a red corner in the row's
// first visible cell and as the tooltip of every cell of the row.
#include "data/datalink.h"
#include "data/dataset.h"
#include "widgets/maskedit.h"

#include <QFlags>
#include <QFont>
#include <QPointer>
#include <QTableView>

#include <functional>

class QAction;
class QKeyEvent;

namespace fis {

class DBGrid;
class GridModel;

enum class ColumnButtonStyle { Auto, Ellipsis };

// The title of a column: caption (empty = the field's label), font and alignment.
struct GridColumnTitle
{
    QString caption;
    QFont font;
    bool hasFont = false;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

// One persistent column of a grid, bound to a field by name. Its visibility and read-only mark
// are its own (the field's flags are separate). Changing any property updates the grid.
class GridColumn : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool readOnly READ readOnly WRITE setReadOnly)
    Q_PROPERTY(bool visible READ visible WRITE setVisible)
public:
    DBGrid *grid() const;
    int index() const; // position among the grid's columns

    QString fieldName() const { return fieldName_; }
    void setFieldName(const QString &name);
    // The field of the grid's current set with that name; null when the set lacks it.
    Field *field() const;

    QString titleCaption() const; // caption, or the field's label when the caption is empty
    const GridColumnTitle &title() const { return title_; }
    void setTitleCaption(const QString &caption);
    void setTitleFont(const QFont &font);
    void setTitleAlignment(Qt::Alignment alignment);

    // The least width in pixels: the grid fits the column to its title and to the texts of its
    // first rows, never narrower than this (0: no least width).
    int width() const { return width_; }
    void setWidth(int pixels);
    bool visible() const { return visible_; }
    void setVisible(bool on);
    bool readOnly() const { return readOnly_; }
    void setReadOnly(bool on);
    ColumnButtonStyle buttonStyle() const { return buttonStyle_; }
    void setButtonStyle(ColumnButtonStyle style);
    // Cell alignment; 0 = the field's (numbers right, everything else left).
    Qt::Alignment alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment);

private:
    friend class DBGrid;
    GridColumn(DBGrid *grid, const QString &fieldName);
    // What a change touches: the column layout (and the title), the title only, or only how the
    // cells are shown and edited.
    enum class Change { Layout, Title, Cells };
    void changed(Change change);

    QString fieldName_;
    GridColumnTitle title_;
    int width_ = 0;
    bool visible_ = true;
    bool readOnly_ = false;
    ColumnButtonStyle buttonStyle_ = ColumnButtonStyle::Auto;
    Qt::Alignment alignment_;
    mutable QPointer<Field> field_;
    mutable bool fieldResolved_ = false;
};

enum class GridOption {
    Editing = 0x1,              // cells can be edited in place
    Titles = 0x2,               // column titles shown
    ColumnResize = 0x4,         // the clerk may resize columns
    ColLines = 0x8,             // lines between columns
    RowLines = 0x10,            // lines between rows
    Tabs = 0x20,                // Tab moves between columns instead of leaving the grid
    RowSelect = 0x40,           // the whole current row is highlighted
    AlwaysShowSelection = 0x80, // the selection stays highlighted when the grid is not focused
    ConfirmDelete = 0x100,      // Ctrl+Delete asks before deleting the row
    CancelOnExit = 0x200,       // leaving the grid cancels an insert nothing was typed into
};
Q_DECLARE_FLAGS(GridOptions, GridOption)

// What a draw handler learns about the cell besides its rectangle and column.
struct GridDrawState
{
    int row = -1;          // view row of the set (read it with field->valueAt(row))
    bool selected = false; // drawn highlighted
    bool focused = false;  // the grid has the focus and this is its current cell
    QBrush background;     // the background the grid painted (also the painter's brush)
    QColor textColor;      // the text colour the grid used (also the painter's pen)
};

// The Windows virtual-key number of a Qt key event (0 when it has none).
quint16 virtualKeyOf(const QKeyEvent *event);
// The character a key event types, control characters included (Backspace 8, Tab 9, Enter 13,
// Escape 27); QChar() for keys that type nothing.
QChar typedCharOf(const QKeyEvent *event);

class DBGrid : public QTableView
{
    Q_OBJECT
    // The field of the selected column (empty when none) and the in-place editing switch.
    Q_PROPERTY(QString selectedFieldName READ selectedFieldName)
    Q_PROPERTY(bool inPlaceEditing READ inPlaceEditing)
public:
    static constexpr GridOptions kDefaultOptions = GridOptions(
        int(GridOption::Editing) | int(GridOption::Titles) | int(GridOption::ColumnResize) |
        int(GridOption::ColLines) | int(GridOption::RowLines) | int(GridOption::Tabs) |
        int(GridOption::ConfirmDelete) | int(GridOption::CancelOnExit));

    explicit DBGrid(QWidget *parent = nullptr);
    ~DBGrid() override;

    DataLink *dataLink() const { return link_; }
    void setDataLink(DataLink *link);
    ClientDataSet *dataSet() const { return link_ ? link_->dataSet() : nullptr; }

    // --- Columns, added in order ---------------------------------------------------------
    GridColumn *addColumn(const QString &fieldName);
    int columnCount() const { return int(columns_.size()); }
    GridColumn *column(int index) const;
    const QList<GridColumn *> &columns() const { return columns_; }
    int columnIndexOf(const QString &fieldName) const; // -1 when no column shows it
    GridColumn *findColumn(const QString &fieldName) const;

    // --- Options ---------------------------------------------------------------------------
    GridOptions options() const { return options_; }
    void setOptions(GridOptions options);
    void setOption(GridOption option, bool on = true);
    bool testOption(GridOption option) const { return options_.testFlag(option); }
    bool isReadOnly() const { return readOnly_; }
    void setReadOnly(bool on);

    // --- The selected column ---------------------------------------------------------------
    int selectedIndex() const { return selected_; }
    // Moves the selected column (onColExit, then onColEnter). Returns false when the column
    // exit refused the move or the index is out of range.
    bool setSelectedIndex(int index);
    GridColumn *selectedColumn() const { return column(selected_); }
    Field *selectedField() const;
    bool setSelectedField(const QString &fieldName);
    QString selectedFieldName() const;
    bool inPlaceEditing() const { return testOption(GridOption::Editing); }

    // The cell editor, null when none is open.
    MaskEdit *cellEditor() const { return editor_; }
    // The view cell (row, column) has its editor open with the ellipsis button shown.
    bool showsEditButton(int row, int column) const;
    // Runs the edit-button handler of the current cell as the ellipsis button would. When the
    // handler changed the cell's field, the open editor shows the new value.
    void clickEditButton();
    // The mark of a view row (rowMark's answer; empty for none).
    QString rowMarkAt(int row) const;
    // Fixed height of every row (never computed from the contents).
    int rowHeight() const;

    // --- Events (each runs inside the error guard) -----------------------------------------
    std::function<void(GridColumn *column)> onCellClick;
    std::function<void(GridColumn *column)> onTitleClick;
    std::function<void(quint16 &key, Qt::KeyboardModifiers modifiers)> onKeyDown;
    std::function<void(QChar &key)> onKeyPress;
    std::function<void()> onColEnter;
    std::function<void()> onColExit;
    std::function<void()> onEditButtonClick;
    // Called after the grid drew the cell, with the painter clipped to the cell.
    std::function<void(QPainter &painter, const QRect &rect, GridColumn *column,
                       const GridDrawState &state)>
        onDrawColumnCell;
    // The mark of a view row, empty for none (asked while painting: keep it cheap).
    std::function<QString(int row)> rowMark;
    std::function<void()> onEnter; // the focus came into the grid
    std::function<void()> onExit;  // the focus left the grid (and its cell editor)

    // Number of complete paints of the cells area (for tests and benchmarks).
    int paintCount() const { return paintCount_; }

signals:
    void firstPaintDone();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void updateGeometries() override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    using QTableView::edit;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;

private:
    friend class GridColumn;
    friend class GridModel;
    friend class GridDelegate;

    void columnChanged(GridColumn *column, GridColumn::Change change);
    // Hides, shows and fits the columns from `first` on (the others are left as they are).
    void applyColumnLayout(int first = 0);
    // Wide enough for the title and the texts of the first rows (at least the column's width).
    int fittedWidth(GridColumn *column) const;
    void applyOptions();
    void invalidateFields();
    void resetFromSet();
    void refreshFromSet();
    void syncFromSet();
    bool moveSetTo(int row);
    bool changeColumn(int column);
    bool canModify() const;
    bool canAppend() const;
    bool cellEditable(int column) const;
    // The two key stages; false when key / character were discarded.
    bool runKeyDown(quint16 &key, Qt::KeyboardModifiers modifiers);
    bool runKeyPress(QChar &ch);
    void handleGridKey(QKeyEvent *event, quint16 key);
    void handleGridChar(QChar ch, Qt::KeyboardModifiers modifiers);
    void focusMoved(QWidget *old, QWidget *now);
    bool ownsWidget(QWidget *w) const;
    void drawCell(QPainter &painter, const QRect &rect, int row, int column,
                  const GridDrawState &state);
    void drawRowMark(QPainter &painter, const QRect &rect, int row, int column) const;
    void editorCreated(MaskEdit *editor, const QModelIndex &index);
    bool commitEditor(MaskEdit *editor, const QModelIndex &index);
    void editorTextEdited();
    void updateEditorButton();
    bool filterEditorKey(QKeyEvent *event); // true when the key was consumed
    bool hasPendingReopen() const;

    QPointer<DataLink> link_;
    GridModel *model_;
    QList<GridColumn *> columns_;
    GridOptions options_ = kDefaultOptions;
    bool readOnly_ = false;
    int selected_ = 0;
    int syncing_ = 0;
    bool hasFocusInside_ = false;
    bool applyingLayout_ = false;
    bool moveRefused_ = false;  // the last current-cell change was refused
    bool pressRefused_ = false; // ... during the mouse press now being released
    int forwarding_ = 0;        // a key event the grid itself sends on
    QPointer<MaskEdit> editor_;
    QPointer<QAction> editorButton_;
    QPersistentModelIndex editorIndex_;
    QString editorOriginal_;
    bool editorDirty_ = false;
    QPersistentModelIndex reopenIndex_; // a refused value waits to be edited again here
    QString reopenText_;
    bool drawFailureReported_ = false;
    int paintCount_ = 0;
    bool geometriesPending_ = false; // placed when shown
    QList<QMetaObject::Connection> linkConnections_;
};

} // namespace fis

Q_DECLARE_OPERATORS_FOR_FLAGS(fis::GridOptions)
