#pragma once
// A read-only query on the host database. It holds one SQL text per database kind and runs the
// one that fits the database in use; its rows fill the query's own record set (it IS a
// ClientDataSet), so that data links, grids and pick lists point at it like at any other set.
//
//   auto *qry = new TADOIBQuery("qryEmpresa", this);
//   qry->setSQL({"SELECT CDEMPRESA, NMRAZSOCEMPR FROM EMPRESA",
//                "WHERE (CDEMPRESA = NVL(:P_CDEMPRESA, CDEMPRESA))"});
//   qry->setSqlVariant(fis::DatabaseKind::SqlServer, ...);
//   qry->addFields({FieldDef::string("CDEMPRESA", 2), FieldDef::string("NMRAZSOCEMPR", 80)});
//   qry->Close(); qry->setParam("P_CDEMPRESA", code); qry->Open();
//
// Fields: declared fields are filled by column name (case-insensitive: PostgreSQL folds names to
// lower case); a declared field the query lacks reads as null. Without declared fields the set
// takes the query's columns. Rows are read-only: editing, inserting or deleting is refused.
// Failures (no database, a bad statement, a value that does not fit its field) raise
// fis::DataSetError with the reason and leave the set closed.
#include "data/dataset.h"
#include "framework/hostdatabase.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

class TADOIBQuery : public fis::ClientDataSet
{
    Q_OBJECT

public:
    explicit TADOIBQuery(const QString &name = QString(), QObject *parent = nullptr);
    ~TADOIBQuery() override;

    // --- Statements ---------------------------------------------------------------------
    // The default text (also the Oracle one unless an Oracle text is given). Lines are joined
    // with line breaks.
    void setSQL(const QString &text) { m_default = text; }
    void setSQL(const QStringList &lines) { m_default = lines.join(QLatin1Char('\n')); }
    QString SQL() const { return m_default; }
    // The text of one database kind (Oracle, SqlServer, InterBase). SQLite and PostgreSQL run the
    // default text.
    void setSqlVariant(fis::DatabaseKind kind, const QString &text);
    void setSqlVariant(fis::DatabaseKind kind, const QStringList &lines)
    {
        setSqlVariant(kind, lines.join(QLatin1Char('\n')));
    }
    QString sqlVariant(fis::DatabaseKind kind) const { return m_variants.value(kind); }
    // The text run on a database of that kind: its own text when it has one, else the default
    // text, else the Oracle text (a query may have only per-database texts). Empty when none.
    QString sqlFor(fis::DatabaseKind kind) const;

    // The connection used (default: the host database's).
    void setConnectionName(const QString &name) { m_connection = name; }
    QString connectionName() const { return m_connection; }

    // --- Parameters ---------------------------------------------------------------------
    // Parameters are bound by name (":P_..." in the text) as text. A parameter never set, or
    // cleared, is null. When emptyParamIsNull is on, an empty text is bound as null too, so that
    // "NVL(:P, column)" then matches every row; when off (the default), an empty text is bound as
    // an empty text.
    void setParam(const QString &name, const QString &text);
    void setParamValue(const QString &name, const fis::Variant &value);
    void clearParam(const QString &name);
    void clearParams();
    fis::Variant param(const QString &name) const;
    // The value actually bound for the parameter (after the empty-as-null rule).
    fis::Variant boundValue(const QString &name) const;
    bool emptyParamIsNull() const { return m_emptyIsNull; }
    void setEmptyParamIsNull(bool on) { m_emptyIsNull = on; }

    // The parameter names used by a statement, in order of first use, without the colon.
    static QStringList parameterNames(const QString &sql);

    // --- Record-set style calls ----------------------------------------------------------
    // Runs the statement of the database in use and fills the set (closing it first).
    void Open();
    void Close() { close(); }
    bool Active() const { return active(); }
    bool IsEmpty() const { return isEmpty(); }
    fis::Field *FieldByName(const QString &name) const { return fieldByName(name); }

private:
    QString m_default;
    QMap<fis::DatabaseKind, QString> m_variants;
    QString m_connection = fis::HostDatabase::kConnectionName;
    QHash<QString, fis::Variant> m_params; // keys in upper case
    bool m_emptyIsNull = false;
};
