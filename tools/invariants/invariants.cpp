#include "invariants.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <functional>

namespace fis {

namespace {

constexpr int kExamples = 10; // listed per kind of violation; the rest is counted

double cents(double v)
{
    return std::round(v * 100.0) / 100.0;
}

bool sameMoney(double a, double b)
{
    return std::abs(cents(a) - cents(b)) < 0.005;
}

class Checker
{
public:
    Checker(QSqlDatabase &db, InvariantReport &report) : m_db(db), m_report(report) {}

    // Runs `sql` and hands each row to `row`; a failing query is reported as a violation.
    bool each(const QString &sql, const std::function<void(const QSqlQuery &)> &row)
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(sql)) {
            m_report.violations << QStringLiteral("consulta falhou: %1 (%2)")
                                       .arg(q.lastError().text(), sql.simplified().left(120));
            return false;
        }
        while (q.next())
            row(q);
        return true;
    }
    qint64 count(const QString &sql)
    {
        qint64 n = -1;
        each(sql, [&](const QSqlQuery &q) { n = q.value(0).toLongLong(); });
        return n;
    }
    // Every row of `sql` is one violation, described by `describe`.
    void none(const QString &what, const QString &sql,
              const std::function<QString(const QSqlQuery &)> &describe)
    {
        QStringList examples;
        qint64 n = 0;
        each(sql, [&](const QSqlQuery &q) {
            if (++n <= kExamples)
                examples << describe(q);
        });
        add(what, n, examples);
    }
    void add(const QString &what, qint64 n, const QStringList &examples)
    {
        if (n == 0)
            return;
        QString line = QStringLiteral("%1: %2 (%3").arg(what).arg(n).arg(examples.join(u"; "));
        if (n > examples.size())
            line += QStringLiteral("; …");
        m_report.violations << line + u')';
    }

private:
    QSqlDatabase &m_db;
    InvariantReport &m_report;
};

QString text(const QSqlQuery &q, int i)
{
    return q.value(i).toString().trimmed();
}

QString key(const QSqlQuery &q, int branch = 0)
{
    return QStringLiteral("%1/%2").arg(text(q, branch), text(q, branch + 1));
}

// The invoices an audit key names: the branch list followed by the entry list, both "_a_b_".
// Empty when the key was cut to its column's size or does not parse.
QList<InvoiceKey> auditKeys(const QString &key)
{
    static const QRegularExpression list(QStringLiteral("^_((?:\\d+_)+)_((?:\\d+_)+)$"));
    const auto m = list.match(key);
    if (key.size() >= 200 || !m.hasMatch())
        return {};
    const QStringList branches = m.captured(1).split(u'_', Qt::SkipEmptyParts);
    const QStringList entries = m.captured(2).split(u'_', Qt::SkipEmptyParts);
    if (branches.size() != entries.size())
        return {};
    QList<InvoiceKey> out;
    for (int i = 0; i < branches.size(); ++i)
        out.append({branches[i], entries[i]});
    return out;
}

} // namespace

InvariantReport checkInvariants(QSqlDatabase &db, const QList<InvoiceKey> &told)
{
    InvariantReport r;
    Checker c(db, r);
    r.guides = c.count(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV"));
    r.payables = c.count(QStringLiteral("SELECT COUNT(*) FROM CONTAPAGAR"));
    r.postings = c.count(QStringLiteral("SELECT COUNT(*) FROM LANCCONTABIL"));

    c.none(QStringLiteral("notas fiscais com mais de uma guia"),
           QStringLiteral("SELECT CDFILIAL, NRLANCTONF, COUNT(*) FROM GUIAPREV"
                          " GROUP BY CDFILIAL, NRLANCTONF HAVING COUNT(*) > 1"),
           [](const QSqlQuery &q) {
               return QStringLiteral("%1 com %2").arg(key(q)).arg(q.value(2).toLongLong());
           });
    c.none(QStringLiteral("guias sem a nota fiscal"),
           QStringLiteral("SELECT G.CDFILIAL, G.NRLANCTONF FROM GUIAPREV G"
                          " LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = G.CDFILIAL"
                          " AND N.NRLANCTONF = G.NRLANCTONF WHERE N.NRLANCTONF IS NULL"),
           [](const QSqlQuery &q) { return key(q); });
    c.none(QStringLiteral("guias cuja conta a pagar não existe"),
           QStringLiteral("SELECT G.CDFILIAL, G.NRLANCTONF, G.NRCONTAPAGAR FROM GUIAPREV G"
                          " LEFT JOIN CONTAPAGAR P ON P.NRCONTAPAGAR = G.NRCONTAPAGAR"
                          " WHERE G.NRCONTAPAGAR IS NOT NULL AND P.NRCONTAPAGAR IS NULL"),
           [](const QSqlQuery &q) { return key(q) + u'→' + text(q, 2); });
    c.none(QStringLiteral("contas a pagar sem guia"),
           QStringLiteral("SELECT P.NRCONTAPAGAR FROM CONTAPAGAR P WHERE NOT EXISTS"
                          " (SELECT 1 FROM GUIAPREV G WHERE G.NRCONTAPAGAR = P.NRCONTAPAGAR)"),
           [](const QSqlQuery &q) { return text(q, 0); });
    c.none(QStringLiteral("lançamentos contábeis sem a conta a pagar"),
           QStringLiteral("SELECT L.NRLANCCONTABIL, L.NRCONTAPAGAR FROM LANCCONTABIL L"
                          " LEFT JOIN CONTAPAGAR P ON P.NRCONTAPAGAR = L.NRCONTAPAGAR"
                          " WHERE P.NRCONTAPAGAR IS NULL"),
           [](const QSqlQuery &q) { return text(q, 0) + u'→' + text(q, 1); });
    c.none(QStringLiteral("guias de saída com conta a pagar"),
           QStringLiteral("SELECT G.CDFILIAL, G.NRLANCTONF FROM GUIAPREV G"
                          " JOIN NOTAFISCAL N ON N.CDFILIAL = G.CDFILIAL"
                          " AND N.NRLANCTONF = G.NRLANCTONF"
                          " WHERE N.IDENTRSAIDOP = 'S' AND G.NRCONTAPAGAR IS NOT NULL"),
           [](const QSqlQuery &q) { return key(q); });
    if (c.count(QStringLiteral("SELECT COUNT(*) FROM PARAMFISCAL WHERE IDGERCONPAGGUIA = 'S'")) >
        0) {
        c.none(QStringLiteral("guias de entrada sem conta a pagar (os parâmetros fiscais "
                              "pedem uma)"),
               QStringLiteral("SELECT G.CDFILIAL, G.NRLANCTONF FROM GUIAPREV G"
                              " JOIN NOTAFISCAL N ON N.CDFILIAL = G.CDFILIAL"
                              " AND N.NRLANCTONF = G.NRLANCTONF"
                              " WHERE N.IDENTRSAIDOP = 'E' AND G.NRCONTAPAGAR IS NULL"),
               [](const QSqlQuery &q) { return key(q); });
    }

    // Postings: one debit and one credit of the payable's value.
    {
        QStringList examples;
        qint64 n = 0;
        c.each(QStringLiteral(
                   "SELECT P.NRCONTAPAGAR, P.VRCONTAPAGAR,"
                   " SUM(CASE WHEN L.IDDEBCRED = 'D' THEN 1 ELSE 0 END),"
                   " SUM(CASE WHEN L.IDDEBCRED = 'C' THEN 1 ELSE 0 END),"
                   " SUM(CASE WHEN L.IDDEBCRED = 'D' THEN L.VRLANCAMENTO ELSE 0 END),"
                   " SUM(CASE WHEN L.IDDEBCRED = 'C' THEN L.VRLANCAMENTO ELSE 0 END)"
                   " FROM CONTAPAGAR P LEFT JOIN LANCCONTABIL L ON L.NRCONTAPAGAR = P.NRCONTAPAGAR"
                   " GROUP BY P.NRCONTAPAGAR, P.VRCONTAPAGAR"),
               [&](const QSqlQuery &q) {
                   const double value = q.value(1).toDouble();
                   const qint64 debits = q.value(2).toLongLong(), credits = q.value(3).toLongLong();
                   if (debits == 1 && credits == 1 && sameMoney(q.value(4).toDouble(), value) &&
                       sameMoney(q.value(5).toDouble(), value))
                       return;
                   if (++n <= kExamples)
                       examples << QStringLiteral("%1: R$ %2, %3 D de R$ %4, %5 C de R$ %6")
                                       .arg(text(q, 0))
                                       .arg(value, 0, 'f', 2)
                                       .arg(debits)
                                       .arg(q.value(4).toDouble(), 0, 'f', 2)
                                       .arg(credits)
                                       .arg(q.value(5).toDouble(), 0, 'f', 2);
               });
        c.add(QStringLiteral("contas a pagar sem um débito e um crédito do seu valor"), n,
              examples);
    }

    // Payable = tax + fine + other entities of its invoices.
    {
        QStringList examples;
        qint64 n = 0;
        c.each(QStringLiteral("SELECT P.NRCONTAPAGAR, P.VRCONTAPAGAR,"
                              " SUM(N.VRTOTIMPONF + N.VRMULTAGUIA + N.VROUTRENTGUIA)"
                              " FROM CONTAPAGAR P"
                              " JOIN GUIAPREV G ON G.NRCONTAPAGAR = P.NRCONTAPAGAR"
                              " JOIN NOTAFISCAL N ON N.CDFILIAL = G.CDFILIAL"
                              " AND N.NRLANCTONF = G.NRLANCTONF"
                              " GROUP BY P.NRCONTAPAGAR, P.VRCONTAPAGAR"),
               [&](const QSqlQuery &q) {
                   if (sameMoney(q.value(1).toDouble(), q.value(2).toDouble()))
                       return;
                   if (++n <= kExamples)
                       examples << QStringLiteral("%1: R$ %2, notas R$ %3")
                                       .arg(text(q, 0))
                                       .arg(q.value(1).toDouble(), 0, 'f', 2)
                                       .arg(q.value(2).toDouble(), 0, 'f', 2);
               });
        c.add(QStringLiteral("contas a pagar que não somam imposto + multa + outras entidades "
                             "das suas notas"),
              n, examples);
    }

    c.none(QStringLiteral("contas previstas de notas já emitidas"),
           QStringLiteral("SELECT C.CDFILIAL, C.NRLANCTONF FROM CONTAPREVISTA C"
                          " JOIN GUIAPREV G ON G.CDFILIAL = C.CDFILIAL"
                          " AND G.NRLANCTONF = C.NRLANCTONF"),
           [](const QSqlQuery &q) { return key(q); });

    // Audit: the emissions' rows count the guides; the invoices a whole key names have theirs.
    QSet<InvoiceKey> guided;
    c.each(QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM GUIAPREV"), [&](const QSqlQuery &q) {
        guided.insert({text(q, 0), text(q, 1)});
    });
    {
        static const QRegularExpression count(QStringLiteral("^(\\d+) guia"));
        qint64 audited = 0, unreadable = 0;
        QStringList missing, unreadableExamples;
        qint64 missingCount = 0;
        c.each(QStringLiteral("SELECT NRAUDITORIA, DSCHAVE, DSDETALHE FROM AUDITORIA"
                              " WHERE DSOPERACAO = 'EMISSAO_GUIA'"),
               [&](const QSqlQuery &q) {
                   ++r.auditRows;
                   const auto m = count.match(text(q, 2));
                   if (!m.hasMatch()) {
                       if (++unreadable <= kExamples)
                           unreadableExamples << text(q, 0);
                       return;
                   }
                   audited += m.captured(1).toLongLong();
                   for (const InvoiceKey &k : auditKeys(text(q, 1))) {
                       if (!guided.contains(k) && ++missingCount <= kExamples)
                           missing << QStringLiteral("%1/%2 (auditoria %3)")
                                          .arg(k.first, k.second, text(q, 0));
                   }
               });
        c.add(QStringLiteral("registros de auditoria de emissão ilegíveis"), unreadable,
              unreadableExamples);
        c.add(QStringLiteral("notas na auditoria de emissão sem guia"), missingCount, missing);
        if (audited != r.guides)
            r.violations << QStringLiteral("a auditoria registra %1 guia(s) emitida(s), o banco "
                                           "tem %2")
                                .arg(audited)
                                .arg(r.guides);
    }

    // What the clients were told.
    {
        QSet<InvoiceKey> seen;
        QStringList lost;
        qint64 lostCount = 0;
        for (const InvoiceKey &k : told) {
            if (seen.contains(k))
                continue;
            seen.insert(k);
            if (!guided.contains(k) && ++lostCount <= kExamples)
                lost << QStringLiteral("%1/%2").arg(k.first, k.second);
        }
        r.told = seen.size();
        c.add(QStringLiteral("emissões confirmadas ao cliente que não estão no banco"), lostCount,
              lost);
    }
    return r;
}

bool readToldFile(const QString &path, QList<InvoiceKey> *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    int lineNo = 0;
    while (!file.atEnd()) {
        ++lineNo;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList parts = line.split(u';');
        if (parts.size() != 2 || parts[0].trimmed().isEmpty() || parts[1].trimmed().isEmpty()) {
            *error = QStringLiteral("%1:%2: esperado \"filial;lançamento\", lido \"%3\"")
                         .arg(path)
                         .arg(lineNo)
                         .arg(line.left(80));
            return false;
        }
        out->append({parts[0].trimmed(), parts[1].trimmed()});
    }
    return true;
}

} // namespace fis
