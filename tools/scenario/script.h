#pragma once
// The scenario language: a plain-text script of setup statements, clerk actions and
// expectations, one statement a line (blocks for inline tables), parsed into Statements that
// the runner executes in order. docs/scenario.md describes every statement; the table of
// statements (statements.h) says which functions read and run each one.
#include "data/variant.h"

#include <QKeyCombination>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <stdexcept>

namespace fis::scenario {

// A script that cannot be read: where and why.
class ScriptError : public std::runtime_error
{
public:
    ScriptError(const QString &file, int line, const QString &message);
    QString file() const { return m_file; }
    int line() const { return m_line; }
    QString message() const { return m_message; }
    QString describe() const; // "file:line: message"

private:
    QString m_file;
    int m_line;
    QString m_message;
};

// Column types of an inline table: the record-set field types.
enum class ColumnType { String, Fixed, Float, Date };

struct TableColumn
{
    QString name;
    ColumnType type = ColumnType::String;
    int size = 0; // text columns; 0 = the record sets' default size
};

// A small table written in the script: columns with types, then rows of values (null, QString,
// double or fis::TDateTime, converted by column type).
struct InlineTable
{
    QString name;
    QList<TableColumn> columns;
    QList<QVariantList> rows;
    int line = 0;
};

// A value the script compares against: an exact variant, anything, or a packet (of n rows).
struct Expected
{
    enum class Kind { Exact, Any, AnyPacket, PacketRows };
    Kind kind = Kind::Exact;
    Variant value;
    int rows = 0;

    static Expected exact(const Variant &v) { return {Kind::Exact, v, 0}; }
    QString describe() const;
    bool matches(const Variant &actual, QString *found = nullptr) const;
};

// The answer a method of the fake server gives.
struct ReplySpec
{
    bool once = false;          // queued for one call, else the method's default answer
    QMap<int, Variant> outputs; // 1-based position -> value written back
    bool isError = false;
    QString errorText;
    Variant result;
    QString packetName; // result is the named inline table, resolved when it runs
    std::optional<InlineTable> table;
    // match: the answer is the rows of the table whose column matchColumn holds the text of
    // argument matchArgument (1-based; 0 = no match, the whole table).
    int matchArgument = 0;
    QString matchColumn;
    // An array answer whose items may name tables: result holds the array, and each position
    // (0-based) in arrayPackets takes the packet of the named table when the reply runs.
    QMap<int, QString> arrayPackets;
};

// A cell of a packet: row (1-based), field, value.
struct CellValue
{
    int row = 0;
    QString field;
    Variant value;
};

enum class StatementKind {
    // setup
    Login,    // settings: key -> text
    Server,   // text: "fake" or "host:port"
    Database, // text: SQLite file path
    DbTable,  // table
    DbSql,    // text: SQL statements
    Table,    // table (named)
    Reply,    // target = method, reply
    Answer,   // answerKind, see below
    Note,     // text
    // actions
    Call,         // target = entry point
    Type,         // target (may be empty = focused), text
    Key,          // keys, target (may be empty)
    Click,        // target
    Menu,         // text = caption path
    Focus,        // target
    Leave,        // target (may be empty), other = destination (may be empty)
    Choose,       // target, number (index) or text
    Cell,         // target = grid, number = row, field, flag = double click
    Title,        // target = grid, field
    Close,        // target
    Snapshot,     // target, text = the picture's file
    Load,         // target = record set, table (inline) or other = name of a table
    Edit,         // target = grid, number = row, field, text
    ClosePreview, //
    Shot,         // screenshot: text = file, target = control (may be empty)
    // expectations
    Expect, // expectKind, see below
};

enum class AnswerKind {
    PickRow,
    PickValue,
    PickCancel,
    FindValue,
    FindCancel,
    IntegrationSame,
    IntegrationCancel,
    IntegrationPacket,
    IntegrationEdit, // edits: the cells corrected before confirming
    Confirm,
    Dialog,
    File // text = the file name, empty = cancel
};

enum class ExpectKind {
    Message,     // text, other = kind word (may be empty)
    NoMessage,   // sinceLine (0 = since the last action)
    Messages,    // number
    Focus,       // target
    State,       // target, text = state word ("enabled"... "highlighted", "not highlighted")
    Text,        // target, text
    Display,     // target, text
    Index,       // target, number
    Count,       // target, number
    Row,         // target, number
    Property,    // target, field = property name, expected
    Cell,        // target = grid, number = row, field, text
    Records,     // target = record set, number, or text = a query giving the count
    Field,       // target = record set, number = row, field, expected
    Call,        // target = method, number = n-th last (1 = last), args
    NoCall,      // sinceLine
    Calls,       // target = method, number
    Dialog,      // target, flag = "opened" (since the last action) rather than open now
    NoDialog,    //
    Pick,        // text = title (may be empty)
    Find,        //
    Integration, //
    Result,      // flag = expected result
    Editor,      // target = grid, flag = no editor, text
    Ellipsis,    // target = grid, number = row, field, flag = no button
    Mark,        // target = grid, number = row, flag = no mark, text
    Column,      // target = grid, field
    Sql,         // expected, text = the query
    Report,      // field = parameter, expected; or other = "absent" | "ending" (text) | "keys"
    Preview,     //
    Pages,       // number
    Page,        // number = page, text = what it contains
};

struct StatementForm;

struct Statement
{
    StatementKind kind = StatementKind::Note;
    QString file;
    int line = 0;
    QString source; // the statement's text as written (first line of a block)

    QString target;
    QString other;
    QString text;
    QString field;
    int number = 0;
    int sinceLine = 0;
    bool flag = false;
    bool hasNumber = false;

    QMap<QString, QString> settings;      // login
    QList<QKeyCombination> keys;          // key
    QList<std::pair<int, Expected>> args; // expect call: 1-based position -> value
    Expected expected;                    // expect property / field
    ReplySpec reply;                      // reply
    AnswerKind answerKind = AnswerKind::PickCancel;
    ExpectKind expectKind = ExpectKind::Message;
    Variant value;                       // answer pick/find value
    std::optional<InlineTable> table;    // table, database table, answer integration
    QList<CellValue> cells;              // answer integration edit
    std::shared_ptr<Statement> nested;   // answer dialog NAME <action>
    const StatementForm *form = nullptr; // its row in the table of statements

    bool isAction() const;
};

struct Script
{
    QString file;
    QString baseDir; // where the script's relative paths start
    QList<Statement> statements;
};

// Reads a script (includes are resolved relative to the including file). Throws ScriptError.
// (reader.cpp)
Script parseFile(const QString &path);
// Parses text as if it were the file `file` (includes resolved relative to baseDir).
Script parseText(const QString &text, const QString &file = QStringLiteral("<script>"),
                 const QString &baseDir = QString());

// Helpers shared with the runner and the tests.
QString expectKindName(ExpectKind kind);
QString formatVariant(const Variant &v);
// A date literal "dd/MM/yyyy" or "dd/MM/yyyy HH:mm[:ss]"; nullopt when it is not one.
std::optional<TDateTime> parseDateLiteral(const QString &text);

} // namespace fis::scenario
