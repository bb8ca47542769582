#include "data/filter_p.h"

#include <cstring>

namespace fis::detail {

namespace {

struct Token
{
    enum class Type { End, Ident, Text, Number, Op, LParen, RParen } type = Type::End;
    QString text;
    int pos = 0;
};

class Parser
{
public:
    Parser(const QString &text, const QList<FieldDef> &fields) : m_src(text), m_fields(fields)
    {
        tokenize();
    }

    std::unique_ptr<FilterExpr::Node> parseAll()
    {
        auto node = parseOr();
        if (peek().type != Token::Type::End)
            fail(QStringLiteral("'%1' inesperado").arg(peek().text), peek().pos);
        return node;
    }

private:
    using Node = FilterExpr::Node;

    [[noreturn]] void fail(const QString &why, int pos) const
    {
        throw DataSetError(QStringLiteral("Expressão de filtro inválida \"%1\": %2 (posição %3).")
                               .arg(m_src, why)
                               .arg(pos + 1));
    }

    void tokenize()
    {
        const QString &s = m_src;
        int i = 0;
        while (i < s.size()) {
            const QChar c = s[i];
            if (c.isSpace()) {
                ++i;
                continue;
            }
            Token t;
            t.pos = i;
            if (c.isLetter() || c == QLatin1Char('_')) {
                int j = i;
                while (j < s.size() && (s[j].isLetterOrNumber() || s[j] == QLatin1Char('_')))
                    ++j;
                t.type = Token::Type::Ident;
                t.text = s.mid(i, j - i);
                i = j;
            } else if (c == QLatin1Char('\'')) {
                QString text;
                int j = i + 1;
                bool closed = false;
                while (j < s.size()) {
                    if (s[j] == QLatin1Char('\'')) {
                        if (j + 1 < s.size() && s[j + 1] == QLatin1Char('\'')) {
                            text += QLatin1Char('\'');
                            j += 2;
                            continue;
                        }
                        closed = true;
                        ++j;
                        break;
                    }
                    text += s[j++];
                }
                if (!closed)
                    fail(QStringLiteral("texto sem aspas de fechamento"), i);
                t.type = Token::Type::Text;
                t.text = text;
                i = j;
            } else if (c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.')) {
                int j = i + 1;
                while (j < s.size() && (s[j].isDigit() || s[j] == QLatin1Char('.')))
                    ++j;
                t.type = Token::Type::Number;
                t.text = s.mid(i, j - i);
                i = j;
            } else if (c == QLatin1Char('(') || c == QLatin1Char(')')) {
                t.type = c == QLatin1Char('(') ? Token::Type::LParen : Token::Type::RParen;
                t.text = c;
                ++i;
            } else if (c == QLatin1Char('=') || c == QLatin1Char('<') || c == QLatin1Char('>')) {
                int j = i + 1;
                if (j < s.size() && c != QLatin1Char('=') &&
                    (s[j] == QLatin1Char('=') ||
                     (c == QLatin1Char('<') && s[j] == QLatin1Char('>'))))
                    ++j;
                t.type = Token::Type::Op;
                t.text = s.mid(i, j - i);
                i = j;
            } else {
                fail(QStringLiteral("caractere '%1' inesperado").arg(c), i);
            }
            m_tokens.append(t);
        }
        Token end;
        end.pos = int(s.size());
        m_tokens.append(end);
    }

    const Token &peek() const { return m_tokens[m_at]; }
    Token take() { return m_tokens[m_at++]; }
    bool isKeyword(const Token &t, const char *word) const
    {
        return t.type == Token::Type::Ident &&
               t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }

    std::unique_ptr<Node> parseOr()
    {
        auto left = parseAnd();
        while (isKeyword(peek(), "OR")) {
            take();
            auto node = std::make_unique<Node>();
            node->kind = Node::Kind::Or;
            node->left = std::move(left);
            node->right = parseAnd();
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Node> parseAnd()
    {
        auto left = parseFactor();
        while (isKeyword(peek(), "AND")) {
            take();
            auto node = std::make_unique<Node>();
            node->kind = Node::Kind::And;
            node->left = std::move(left);
            node->right = parseFactor();
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Node> parseFactor()
    {
        if (++m_depth > 200)
            fail(QStringLiteral("expressão aninhada demais"), peek().pos);
        std::unique_ptr<Node> result;
        if (isKeyword(peek(), "NOT")) {
            take();
            result = std::make_unique<Node>();
            result->kind = Node::Kind::Not;
            result->left = parseFactor();
        } else if (peek().type == Token::Type::LParen) {
            take();
            result = parseOr();
            if (peek().type != Token::Type::RParen)
                fail(QStringLiteral("falta ')'"), peek().pos);
            take();
        } else {
            result = parseComparison();
        }
        --m_depth;
        return result;
    }

    std::unique_ptr<Node> parseComparison()
    {
        const Token name = take();
        if (name.type != Token::Type::Ident || isKeyword(name, "AND") || isKeyword(name, "OR"))
            fail(name.type == Token::Type::End ? QStringLiteral("expressão incompleta")
                                               : QStringLiteral("esperado nome de campo"),
                 name.pos);
        int column = -1;
        for (qsizetype i = 0; i < m_fields.size(); ++i)
            if (m_fields[i].name.compare(name.text, Qt::CaseInsensitive) == 0)
                column = int(i);
        if (column < 0)
            fail(QStringLiteral("campo '%1' não encontrado").arg(name.text), name.pos);
        const FieldDef &field = m_fields[column];

        auto node = std::make_unique<Node>();
        node->column = column;
        if (isKeyword(peek(), "IS")) {
            take();
            node->kind = Node::Kind::IsNull;
            if (isKeyword(peek(), "NOT")) {
                take();
                node->negated = true;
            }
            if (!isKeyword(peek(), "NULL"))
                fail(QStringLiteral("esperado NULL"), peek().pos);
            take();
            return node;
        }
        const Token op = take();
        if (op.type != Token::Type::Op)
            fail(QStringLiteral("esperado operador de comparação"), op.pos);
        static const std::pair<const char *, FilterExpr::Op> ops[] = {
            {"=", FilterExpr::Op::Eq}, {"<>", FilterExpr::Op::Ne}, {"<", FilterExpr::Op::Lt},
            {">", FilterExpr::Op::Gt}, {"<=", FilterExpr::Op::Le}, {">=", FilterExpr::Op::Ge}};
        bool known = false;
        for (const auto &[text, value] : ops) {
            if (op.text == QLatin1String(text)) {
                node->op = value;
                known = true;
            }
        }
        if (!known)
            fail(QStringLiteral("operador '%1' desconhecido").arg(op.text), op.pos);

        const Token lit = take();
        if (lit.type != Token::Type::Text && lit.type != Token::Type::Number)
            fail(QStringLiteral("esperado valor entre aspas ou número"), lit.pos);
        double number = 0;
        bool numberOk = false;
        if (lit.type == Token::Type::Number)
            number = lit.text.toDouble(&numberOk);
        switch (field.type) {
        case FieldType::String:
        case FieldType::FixedString: {
            node->textCompare = true;
            QString text = lit.text;
            if (lit.type == Token::Type::Number) {
                if (!numberOk)
                    fail(QStringLiteral("número '%1' inválido").arg(lit.text), lit.pos);
                text = floatToText(number);
            }
            if (field.type == FieldType::FixedString)
                while (text.endsWith(QLatin1Char(' ')))
                    text.chop(1);
            node->text = text.toUtf8();
            break;
        }
        case FieldType::Float:
            if (lit.type == Token::Type::Text)
                numberOk = textToFloat(lit.text, &number);
            if (!numberOk)
                fail(QStringLiteral("'%1' não é um número válido").arg(lit.text), lit.pos);
            node->number = number;
            break;
        case FieldType::DateTime:
            if (lit.type == Token::Type::Text) {
                TDateTime d;
                numberOk = lit.text.trimmed().isEmpty() || textToDate(lit.text, &d);
                number = d.value;
            }
            if (!numberOk)
                fail(QStringLiteral("'%1' não é uma data válida").arg(lit.text), lit.pos);
            node->number = number;
            break;
        }
        return node;
    }

    QString m_src;
    const QList<FieldDef> &m_fields;
    QList<Token> m_tokens;
    int m_at = 0;
    int m_depth = 0;
};

template <typename T>
bool compareWith(FilterExpr::Op op, const T &a, const T &b)
{
    switch (op) {
    case FilterExpr::Op::Eq:
        return a == b;
    case FilterExpr::Op::Ne:
        return a != b;
    case FilterExpr::Op::Lt:
        return a < b;
    case FilterExpr::Op::Gt:
        return a > b;
    case FilterExpr::Op::Le:
        return a <= b;
    case FilterExpr::Op::Ge:
        return a >= b;
    }
    return false;
}

} // namespace

std::shared_ptr<const FilterExpr> FilterExpr::parse(const QString &text,
                                                    const QList<FieldDef> &fields)
{
    Parser parser(text, fields);
    auto expr = std::make_shared<FilterExpr>();
    expr->m_root = parser.parseAll();
    return expr;
}

bool FilterExpr::matches(const Content &content, qint32 row) const
{
    return !m_root || eval(*m_root, content, row);
}

bool FilterExpr::eval(const Node &node, const Content &content, qint32 row) const
{
    switch (node.kind) {
    case Node::Kind::And:
        return eval(*node.left, content, row) && eval(*node.right, content, row);
    case Node::Kind::Or:
        return eval(*node.left, content, row) || eval(*node.right, content, row);
    case Node::Kind::Not:
        return !eval(*node.left, content, row);
    case Node::Kind::IsNull:
        return content.cols[size_t(node.column)].isNull(row) != node.negated;
    case Node::Kind::Compare:
        break;
    }
    const Column &col = content.cols[size_t(node.column)];
    if (node.textCompare) {
        QByteArrayView value = col.utf8(row);
        if (col.type == FieldType::FixedString)
            while (!value.isEmpty() && value.back() == ' ')
                value.chop(1);
        const QByteArrayView lit(node.text);
        const qsizetype common = std::min(value.size(), lit.size());
        int cmp = common ? std::memcmp(value.data(), lit.data(), size_t(common)) : 0;
        if (cmp == 0)
            cmp = value.size() < lit.size() ? -1 : (value.size() > lit.size() ? 1 : 0);
        return compareWith(node.op, cmp, 0);
    }
    if (col.type == FieldType::Float && col.isNull(row))
        return node.op == Op::Ne; // an empty number equals nothing
    return compareWith(node.op, col.num[size_t(row)], node.number);
}

} // namespace fis::detail
