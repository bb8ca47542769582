#pragma once
// Client data sets: rows of named, typed fields held in memory, filled from data packets.
//
// A ClientDataSet owns its Fields (one per declared FieldDef) and keeps one current row.
// Field accessors always work on the current row (or on the edit buffer while the set is in
// Edit/Insert state). Grids read arbitrary rows through the row-addressed readers
// (valueAt / displayTextAt) without moving the current row.
//
// Rows are counted in "view order": only the rows that pass the filter, in the order of the
// active index (or in load/insert order when there is none). Row numbers given to links and
// models are 0-based view positions; recNo() is 1-based as users expect.
//
// Errors: misuse (writing outside Edit/Insert, an unknown field name, a bad filter, a stale
// bookmark, a value that does not fit its field) raises fis::DataSetError with a Portuguese
// message. An exception thrown by a before-event handler (fis::EAbort included) abandons the
// operation, leaves the set as it was and propagates to the caller.
#include "data/variant.h"

#include <QFlags>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>

namespace fis {

class ClientDataSet;
class DataLink;
class Field;

// Raised for any misuse of a data set or field; what() holds the UTF-8 of message().
class DataSetError : public std::runtime_error
{
public:
    explicit DataSetError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

enum class FieldType {
    String,      // text of at most size() characters
    FixedString, // text padded with blanks to size() characters
    Float,       // double
    DateTime,    // fis::TDateTime, 0 = no date
};

QString fieldTypeName(FieldType type); // "string", "fixed", "float", "datetime"

// Get-text handler: receives the field, the text to fill in, and whether the text is for display
// (true) or for editing (false).
using FieldGetTextHandler = std::function<void(Field &field, QString &text, bool displayText)>;
// Set-text handler: receives the field and the text typed; it stores whatever it decides.
using FieldSetTextHandler = std::function<void(Field &field, const QString &text)>;

inline constexpr int kDefaultStringSize = 20;

// The declaration of one field. Builder-style setters make definitions read like a table:
//   FieldDef::string("CDFILIAL", 4).setVisible(false)
struct FieldDef
{
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // text fields: 0 means kDefaultStringSize; ignored for other types
    QString displayLabel;
    QString displayFormat; // floats: "#,##0.00"; dates: "dd/mm/yyyy" style, empty = default
    int displayWidth = 0;  // in characters, 0 = derived from size/type
    bool visible = true;
    bool readOnly = false;
    bool required = false;
    QString editMask;
    FieldGetTextHandler onGetText;
    FieldSetTextHandler onSetText;

    static FieldDef string(const QString &name, int size = 0);
    static FieldDef fixed(const QString &name, int size);
    static FieldDef floating(const QString &name);
    static FieldDef dateTime(const QString &name);

    // Effective size: text fields without a stated size have kDefaultStringSize; others 0.
    int effectiveSize() const;
    bool isText() const { return type == FieldType::String || type == FieldType::FixedString; }

    FieldDef &setLabel(const QString &label)
    {
        displayLabel = label;
        return *this;
    }
    FieldDef &setFormat(const QString &format)
    {
        displayFormat = format;
        return *this;
    }
    FieldDef &setWidth(int width)
    {
        displayWidth = width;
        return *this;
    }
    FieldDef &setVisible(bool on)
    {
        visible = on;
        return *this;
    }
    FieldDef &setReadOnly(bool on)
    {
        readOnly = on;
        return *this;
    }
    FieldDef &setRequired(bool on)
    {
        required = on;
        return *this;
    }
    FieldDef &setEditMask(const QString &mask)
    {
        editMask = mask;
        return *this;
    }
    FieldDef &setGetText(FieldGetTextHandler handler)
    {
        onGetText = std::move(handler);
        return *this;
    }
    FieldDef &setSetText(FieldSetTextHandler handler)
    {
        onSetText = std::move(handler);
        return *this;
    }
};

// One field of a data set. Owned by its set (QObject child); its objectName is the set's name
// followed by the column name ("cdsAprovIDCHECK"); fieldName() is the column name.
class Field : public QObject
{
    Q_OBJECT
public:
    ClientDataSet *dataSet() const { return m_set; }
    int index() const { return m_index; } // position among the set's fields

    const FieldDef &def() const { return m_def; }
    QString fieldName() const { return m_def.name; }
    FieldType dataType() const { return m_def.type; }
    int size() const { return m_def.effectiveSize(); }
    bool isText() const { return m_def.isText(); }

    // Presentation properties; changing one notifies attached links (fieldsChanged).
    QString displayLabel() const; // falls back to the field name when empty
    void setDisplayLabel(const QString &label);
    QString displayFormat() const { return m_def.displayFormat; }
    void setDisplayFormat(const QString &format);
    int displayWidth() const;
    void setDisplayWidth(int width);
    bool visible() const { return m_def.visible; }
    void setVisible(bool on);
    // Read-only is honoured by the grids and edits; code may still write the field.
    bool readOnly() const { return m_def.readOnly; }
    void setReadOnly(bool on);
    bool required() const { return m_def.required; }
    void setRequired(bool on);
    QString editMask() const { return m_def.editMask; }
    void setEditMask(const QString &mask);

    // Text handlers (may be replaced at any time).
    FieldGetTextHandler onGetText;
    FieldSetTextHandler onSetText;

    // Reading the current row. A closed or empty set reads empty text, 0 or the null date.
    Variant value() const; // null Variant, QString, double or TDateTime
    bool isNull() const;
    QString asString() const;
    double asFloat() const;
    TDateTime asDateTime() const;
    QString text() const;        // edit text: get-text handler (displayText = false) or format
    QString displayText() const; // get-text handler (displayText = true) or display format

    // Writing the current row; the set must be in Edit or Insert state.
    void setValue(const Variant &value);
    void setAsString(const QString &value);
    void setAsFloat(double value);
    void setAsDateTime(TDateTime value);
    void clear();
    void setText(const QString &text); // set-text handler if any, else converts by type

    // Reading any row in view order without moving the current row (for grids and models).
    Variant valueAt(int row) const;
    QString displayTextAt(int row) const;
    QString textAt(int row) const;

    // Formatting without handlers (what the handler-less text/displayText produce).
    QString formatValue(const Variant &value, bool display) const;
    // Converts a typed text to a value of this field's type; throws DataSetError when invalid.
    Variant parseText(const QString &text) const;

private:
    friend class ClientDataSet;
    Field(ClientDataSet *set, int index, const FieldDef &def);
    void notifyLayout();

    ClientDataSet *m_set;
    int m_index;
    FieldDef m_def;
};

enum class DataSetState { Inactive, Browse, Edit, Insert };
QString dataSetStateName(DataSetState state);

enum class LocateOption { CaseInsensitive = 0x1, PartialKey = 0x2 };
Q_DECLARE_FLAGS(LocateOptions, LocateOption)

enum class IndexOption { Descending = 0x1, CaseInsensitive = 0x2 };
Q_DECLARE_FLAGS(IndexOptions, IndexOption)

struct IndexDef
{
    QString name;
    QString fields; // "A;B"
    IndexOptions options;
};

// An opaque position; valid while its row exists in the same content (a reload invalidates it).
class Bookmark
{
public:
    Bookmark() = default;
    bool isValid() const { return m_row >= 0; }
    friend bool operator==(const Bookmark &, const Bookmark &) = default;

private:
    friend class ClientDataSet;
    Bookmark(quint64 generation, qint64 row) : m_generation(generation), m_row(row) {}
    quint64 m_generation = 0;
    qint64 m_row = -1;
};

using DataSetEvent = std::function<void(ClientDataSet &set)>;

class ClientDataSet : public QObject
{
    Q_OBJECT
public:
    explicit ClientDataSet(const QString &name = QString(), QObject *parent = nullptr);
    ~ClientDataSet() override;

    // --- Definitions -------------------------------------------------------------------
    // Fields can be declared while the set is closed; each declaration creates its Field.
    Field *addField(const FieldDef &def);
    void addFields(const QList<FieldDef> &defs);
    void clearFields(); // closed sets only
    QList<FieldDef> fieldDefs() const;
    int fieldCount() const;
    Field *field(int index) const;
    QList<Field *> fields() const;
    Field *findField(const QString &name) const;   // nullptr when unknown (case-insensitive)
    Field *fieldByName(const QString &name) const; // throws DataSetError when unknown
    // Fields created from a packet (set had no declared fields) are replaced by the next packet.
    bool fieldsFromPacket() const;

    // --- Indexes -----------------------------------------------------------------------
    void addIndex(const QString &name, const QString &fields, IndexOptions options = {});
    QList<IndexDef> indexDefs() const;
    void setIndexName(const QString &name); // "" = natural order; unknown name throws
    QString indexName() const;

    // --- Open / close ------------------------------------------------------------------
    DataSetState state() const;
    bool active() const;
    void open();  // opens with the current content (empty unless a packet was loaded)
    void close(); // discards the rows
    void setActive(bool on);
    void createDataSet(); // opens empty from its own definitions (closes first if open)
    void emptyDataSet();  // deletes every row, resets the change log; set stays open

    // --- Packets -----------------------------------------------------------------------
    // Replaces the whole content with the packet's and opens the set. The packet is decoded
    // completely first: a corrupt packet raises PacketError and leaves the set untouched.
    void setData(const DataPacket &packet);
    void loadPacket(const DataPacket &packet) { setData(packet); }
    DataPacket data() const; // the current content (posted rows, view order ignores filter)

    // --- Navigation --------------------------------------------------------------------
    void first();
    void last();
    void next();
    void prior();
    int moveBy(int distance); // returns the distance moved
    bool eof() const;
    bool bof() const;
    int recNo() const;        // 1-based; 0 when empty or closed
    void setRecNo(int recNo); // 1-based
    int recordCount() const;  // rows that pass the filter
    bool isEmpty() const;

    // --- Editing -----------------------------------------------------------------------
    void edit();
    void insert(); // new row before the current one
    void append(); // new row at the end
    void post();
    void cancel();
    void deleteRecord();
    // append(), one value per field in field order (missing trailing values stay null), post().
    void appendRecord(const QVariantList &values);
    bool modified() const;
    int changeCount() const; // posts and deletes since load / createDataSet / emptyDataSet
    // Posts in Edit/Insert state (cancels an unmodified insert); nothing in Browse.
    void checkBrowseMode();

    // --- Bookmarks ---------------------------------------------------------------------
    Bookmark bookmark() const; // invalid bookmark when there is no current row
    bool bookmarkValid(const Bookmark &bookmark) const;
    void gotoBookmark(const Bookmark &bookmark); // throws DataSetError for a stale bookmark

    // --- Display-update suspension (nests) -----------------------------------------------
    void disableControls();
    void enableControls();
    bool controlsDisabled() const;

    // --- Filter ------------------------------------------------------------------------
    // Grammar: expr := term { OR term }; term := factor { AND factor };
    // factor := NOT factor | '(' expr ')' | FIELD op literal | FIELD IS [NOT] NULL;
    // op := = <> < > <= >=; literal := 'text' ('' inside for a quote) | number.
    void setFilter(const QString &expression); // a bad expression throws; the old one stays
    QString filter() const;
    void setFiltered(bool on);
    bool filtered() const;

    // --- Search ------------------------------------------------------------------------
    // keyFields like "CDFILIAL;NRLANCTONF"; one value per field. Moves to the first matching
    // row (posting a pending edit first) and returns true; false leaves the position.
    bool locate(const QString &keyFields, const QVariantList &values, LocateOptions options = {});
    bool locate(const QString &keyField, const Variant &value, LocateOptions options = {})
    {
        return locate(keyField, QVariantList{value}, options);
    }
    // Braced values, also a single one: locate("A;B", {a, b}), locate("A", {a}).
    bool locate(const QString &keyFields, std::initializer_list<Variant> values,
                LocateOptions options = {})
    {
        return locate(keyFields, QVariantList(values), options);
    }

    // --- For links and models ----------------------------------------------------------
    int currentRow() const; // 0-based view position, -1 when none
    Variant valueAt(int row, int fieldIndex) const;

    // --- Events (handlers may throw; before-events abort the operation) ----------------
    DataSetEvent beforeOpen, afterOpen, beforeClose, afterClose;
    DataSetEvent beforeInsert, afterInsert, onNewRecord;
    DataSetEvent beforeEdit, afterEdit, beforePost, afterPost, beforeCancel, afterCancel;
    DataSetEvent beforeDelete, afterDelete, beforeScroll, afterScroll;

signals:
    // Qt-side mirror of the state for anyone who prefers signals to a DataLink.
    void stateChanged(fis::DataSetState state);

private:
    friend class Field;
    friend class DataLink;
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace fis

Q_DECLARE_OPERATORS_FOR_FLAGS(fis::LocateOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(fis::IndexOptions)
Q_DECLARE_METATYPE(fis::DataSetState)
