#pragma once
// The parameter list of a report's query: what the report declares (name and type) and the
// value the screen gives each one before the report runs. Names compare without regard to case.
#include "data/variant.h"

#include <QList>
#include <QString>

#include <initializer_list>

namespace fis {

enum class ReportParamType { Text, Date, Float };

struct ReportParam
{
    QString name;
    ReportParamType type = ReportParamType::Text;
    Variant value; // null until the screen sets it
};

class ReportParams
{
public:
    ReportParams() = default;
    ReportParams(std::initializer_list<ReportParam> params) : m_params(params) {}

    // Declares a parameter; declaring a name again only changes its type.
    void declare(const QString &name, ReportParamType type = ReportParamType::Text);

    bool contains(const QString &name) const { return indexOf(name) >= 0; }
    int indexOf(const QString &name) const;
    // nullptr when the report does not declare the name.
    ReportParam *find(const QString &name);
    const ReportParam *find(const QString &name) const;

    // Sets the value of a declared parameter; false (and nothing changes) when it is not declared.
    bool setValue(const QString &name, const Variant &value);
    bool setText(const QString &name, const QString &text)
    {
        return setValue(name, makeText(text));
    }
    bool setDate(const QString &name, TDateTime date) { return setValue(name, makeDate(date)); }
    // The value of the parameter; null when it is not declared or not set.
    Variant value(const QString &name) const;

    // Puts every value back to null (before the next run of the report).
    void clearValues();

    qsizetype size() const { return m_params.size(); }
    bool isEmpty() const { return m_params.isEmpty(); }
    const ReportParam &at(qsizetype i) const { return m_params.at(i); }
    QList<ReportParam>::const_iterator begin() const { return m_params.cbegin(); }
    QList<ReportParam>::const_iterator end() const { return m_params.cend(); }

private:
    QList<ReportParam> m_params;
};

} // namespace fis

// True when the report declares the parameter (its query uses it).
bool ExistParam(const fis::ReportParams &reportParams, const QString &name);
