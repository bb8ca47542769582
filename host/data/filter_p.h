#pragma once
// Internal: the record-set filter expressions (see ClientDataSet::setFilter for the grammar).
#include "data/dataset.h"
#include "data/storage_p.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace fis::detail {

class FilterExpr
{
public:
    // Parses `text` against the given fields; throws DataSetError naming the problem.
    static std::shared_ptr<const FilterExpr> parse(const QString &text,
                                                   const QList<FieldDef> &fields);
    bool matches(const Content &content, qint32 row) const;

    enum class Op { Eq, Ne, Lt, Gt, Le, Ge };
    struct Node
    {
        enum class Kind { And, Or, Not, Compare, IsNull } kind = Kind::Compare;
        std::unique_ptr<Node> left, right;
        int column = -1;
        Op op = Op::Eq;
        bool negated = false; // IS NOT NULL
        bool textCompare = false;
        QByteArray text;   // literal as UTF-8 (text columns)
        double number = 0; // literal as a number (float and date columns)
    };

private:
    bool eval(const Node &node, const Content &content, qint32 row) const;
    std::unique_ptr<Node> m_root;
};

} // namespace fis::detail
