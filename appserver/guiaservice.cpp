#include "guiaservice.h"

#include "data/packet.h"
#include "identifiers.h"

#include <QDateTime>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

namespace fis {

namespace {

// ---------------------------------------------------------------------------------------------
// Arguments

QString textArg(const QList<Variant> &a, int i)
{
    return a.at(i).toString();
}

double floatArg(const QList<Variant> &a, int i)
{
    return a.at(i).toDouble();
}

QDate dateArg(const QList<Variant> &a, int i)
{
    const Variant &v = a.at(i);
    if (v.metaType() == QMetaType::fromType<TDateTime>())
        return v.value<TDateTime>().toDate();
    return {};
}

DataPacket packetArg(const QList<Variant> &a, int i)
{
    const Variant &v = a.at(i);
    if (v.metaType() == QMetaType::fromType<DataPacket>())
        return v.value<DataPacket>();
    return {};
}

bool kindAccepts(ArgKind kind, const Variant &v)
{
    const VariantKind k = kindOf(v);
    if (k == VariantKind::Invalid)
        return false;
    if (k == VariantKind::Null || kind == ArgKind::Any)
        return true;
    switch (kind) {
    case ArgKind::Text:
        return k == VariantKind::Text;
    case ArgKind::Float:
        return k == VariantKind::Float;
    case ArgKind::Date:
        return k == VariantKind::Date;
    case ArgKind::Packet:
        return k == VariantKind::Packet;
    case ArgKind::Array:
        return k == VariantKind::Array;
    case ArgKind::Any:
        break;
    }
    return true;
}

Variant emptyOf(ArgKind kind)
{
    switch (kind) {
    case ArgKind::Text:
        return QString();
    case ArgKind::Float:
        return 0.0;
    case ArgKind::Date:
        return makeDate(TDateTime());
    case ArgKind::Packet:
        return makePacket(DataPacket());
    case ArgKind::Array:
        return QVariantList();
    case ArgKind::Any:
        break;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// SQL values

QDate sqlDate(const QVariant &v)
{
    if (v.isNull())
        return {};
    if (v.metaType() == QMetaType::fromType<QDate>())
        return v.toDate();
    if (v.metaType() == QMetaType::fromType<QDateTime>())
        return v.toDateTime().date();
    // SQLite keeps dates as ISO text: read "yyyy-MM-dd" directly, it is on every listed row.
    if (v.metaType() == QMetaType::fromType<QString>()) {
        const QString &t = *static_cast<const QString *>(v.constData());
        const auto digits = [&t](int from, int count) {
            int n = 0;
            for (int i = from; i < from + count; ++i) {
                const char16_t c = t.at(i).unicode();
                if (c < u'0' || c > u'9')
                    return -1;
                n = n * 10 + (c - u'0');
            }
            return n;
        };
        if (t.size() >= 10 && t.at(4) == u'-' && t.at(7) == u'-' &&
            (t.size() == 10 || t.at(10) == u' ' || t.at(10) == u'T')) {
            const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
            if (y >= 0 && m >= 0 && d >= 0)
                return QDate(y, m, d); // invalid (null) for an impossible day, as before
        }
    }
    return QDate::fromString(v.toString().left(10), Qt::ISODate);
}

Variant dateValue(const QDate &d)
{
    return d.isValid() ? makeDate(TDateTime::fromDate(d)) : Variant();
}

QVariant sqlParam(const QDate &d)
{
    return d.isValid() ? QVariant(d) : QVariant(QMetaType::fromType<QDate>());
}

QString brDate(const QDate &d)
{
    return d.isValid() ? d.toString(u"dd/MM/yyyy") : QString();
}

QString money(double v)
{
    static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return brazil.toString(v, 'f', 2);
}

PacketField str(const char *name, int size)
{
    return {QString::fromLatin1(name), FieldType::String, size};
}
PacketField fixed(const char *name, int size)
{
    return {QString::fromLatin1(name), FieldType::FixedString, size};
}
PacketField flt(const char *name)
{
    return {QString::fromLatin1(name), FieldType::Float, 0};
}
PacketField dt(const char *name)
{
    return {QString::fromLatin1(name), FieldType::DateTime, 0};
}

const QList<PacketField> &aprovFields()
{
    static const QList<PacketField> f = {
        str("CDFILIAL", 4),      str("CDFILIRECE", 4),    dt("DTEMISSAO"),
        dt("DTENTRSAID"),        str("CDCLIENTE", 21),    str("NRINSJURNF", 20),
        str("NMRAZSOCCLIE", 50), str("NMRAZSOCFORN", 77), str("NRLANCTONF", 10),
        str("NRNOTAFISC", 20),   str("CDSERIE", 5),       str("IDENTRSAIDOP", 1),
        str("CDFILIEMIT", 4),    flt("VRMULTAGUIA"),      flt("VROUTRENTGUIA"),
        str("CDRECEGUIA", 5),    flt("VRNOTAFISC"),       fixed("IDCHECK", 1),
        dt("VENCIMENTO"),        flt("VRTOTIMPONF"),      str("IDSTATUSGUIA", 1)};
    return f;
}

const QList<PacketField> &aprovAgrupFields()
{
    static const QList<PacketField> f = {str("CDFORNECED", 21),
                                         str("NRINSJURNF", 20),
                                         str("NMRAZSOCFORN", 77),
                                         str("IDENTRSAIDOP", 1),
                                         str("CDFILIEMIT", 4),
                                         dt("DTENTRSAID"),
                                         flt("SOMA"),
                                         fixed("IDCHECK", 1),
                                         flt("VRTOTIMPONF"),
                                         dt("VENCIMENTO"),
                                         str("CDFILIAL", 4),
                                         str("NRLANCTONF", 10),
                                         str("NRNOTAFISC", 20),
                                         flt("VRMULTAGUIA"),
                                         flt("VROUTRENTGUIA"),
                                         str("CDRECEGUIA", 5),
                                         str("IDSTATUSGUIA", 1)};
    return f;
}

const QList<PacketField> &funRuralFields()
{
    static const QList<PacketField> f = {
        dt("DTINIPERIODO"),    dt("DTFIMPERIODO"), str("NMMAPAAPUR", 30), flt("VRTTCTBLCRE"),
        str("CDINSCESTA", 16), str("IDSTATUS", 1), fixed("IDCHECK", 1),   str("NRSEQUMAPAPU", 10)};
    return f;
}

const QList<PacketField> &resultFields()
{
    static const QList<PacketField> f = {str("CDRESULT", 3), str("DSRESULT", 250),
                                         str("IDTPRESULT", 2)};
    return f;
}

const QList<PacketField> &integrationFields()
{
    static const QList<PacketField> f = {
        str("CDEMPRESA", 2),   str("CDIMPOSTO", 2),     str("CDFORNECED", 21),
        str("CDFORNNOTA", 21), str("IDDEBCRED", 1),     str("CDCONTACONTABIL", 20),
        flt("VRLANCAMENTO"),   str("DSHISTORICO", 200), str("DSERRO", 250)};
    return f;
}

DataPacket resultPacket(const QString &code, const QString &text)
{
    return buildPacket(resultFields(), {{code, text.left(250), QStringLiteral("01")}});
}

QString alreadyEmitted(const QString &nota, const QString &branch, const QString &entry)
{
    return QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) já foi emitida: "
                          "a guia já existe.")
        .arg(nota, branch, entry);
}

bool isUniqueViolation(const QSqlError &e)
{
    const QString t = e.databaseText() + e.nativeErrorCode();
    return e.nativeErrorCode() == QLatin1String("23505") ||
           t.contains(QLatin1String("UNIQUE"), Qt::CaseInsensitive) ||
           t.contains(QLatin1String("UQ_GUIAPREV"), Qt::CaseInsensitive);
}

// Revenue codes are kept as four digits; a typed "631" means "0631".
QString normalizedCode(const QString &code)
{
    QString c = code.trimmed();
    bool digits = !c.isEmpty();
    for (QChar ch : c)
        digits = digits && ch.isDigit();
    if (digits && c.size() < 4)
        c = c.rightJustified(4, u'0');
    return c;
}

} // namespace

double roundCents(double value)
{
    return std::round(value * 100.0) / 100.0;
}

// ---------------------------------------------------------------------------------------------

struct GuiaService::Criteria
{
    QString op; // "S" exits, "E" entries
    QString company, inscEsta, inscMuni, serie, numNF, filial, imposto, inscForne, status;
    QDate start, end;
};

struct GuiaService::Invoice
{
    QString branch, entry, company, operation, nota, supplier, tax, code, registration;
    double tax_value = 0, fine = 0, other = 0;
    QDate due;
};

namespace {

// A statement of the thread's cache (see StatementLease), bound by position.
class Sql
{
public:
    Sql(QSqlDatabase &db, const QString &sql) : m_lease(db, sql), m_q(m_lease.query())
    {
        if (!m_lease.prepared())
            fail();
    }
    Sql &exec(const QVariantList &binds = {})
    {
        if (!tryExec(binds))
            fail();
        return *this;
    }
    bool tryExec(const QVariantList &binds)
    {
        for (int i = 0; i < binds.size(); ++i)
            m_q.bindValue(i, binds.at(i));
        return m_q.exec();
    }
    bool next() { return m_q.next(); }
    void finish() { m_q.finish(); }
    QVariant value(int i) const { return m_q.value(i); }
    QString text(int i) const { return m_q.value(i).toString(); }
    double number(int i) const { return m_q.value(i).toDouble(); }
    QSqlError lastError() const { return m_q.lastError(); }
    [[noreturn]] void fail() const
    {
        throw ServiceError(
            QStringLiteral("Erro no banco de dados: %1").arg(m_q.lastError().text()));
    }

private:
    StatementLease m_lease;
    QSqlQuery &m_q;
};

// Rolls back unless committed.
class WriteTransaction
{
public:
    WriteTransaction(QSqlDatabase &db, DbKind kind) : m_db(db)
    {
        if (!beginWrite(m_db, kind))
            throw ServiceError(QStringLiteral("Não foi possível iniciar a transação: %1")
                                   .arg(m_db.lastError().text()));
    }
    ~WriteTransaction()
    {
        if (!m_done)
            fis::rollback(m_db);
    }
    void commit()
    {
        QString error;
        if (!fis::commit(m_db, &error))
            throw ServiceError(
                QStringLiteral("Não foi possível gravar a transação: %1").arg(error));
        m_done = true;
    }
    void rollback()
    {
        fis::rollback(m_db);
        m_done = true;
    }

private:
    QSqlDatabase &m_db;
    bool m_done = false;
};

} // namespace

GuiaService::GuiaService(QSqlDatabase db, DbKind kind) : m_db(std::move(db)), m_kind(kind) {}

QDateTime GuiaService::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

const QList<GuiaService::MethodSpec> &GuiaService::methods()
{
    using P = RpcParam;
    const P t = P::in(ArgKind::Text), tr = P::ref(ArgKind::Text), d = P::in(ArgKind::Date),
            dr = P::ref(ArgKind::Date), f = P::in(ArgKind::Float), fr = P::ref(ArgKind::Float),
            pk = P::in(ArgKind::Packet);
    static const QList<MethodSpec> list = {
        {QStringLiteral("GetParamFiscal"), {}, &GuiaService::GetParamFiscal},
        {QStringLiteral("GetEmisGuiaPrev"),
         {tr, t, t,  t, t,  t,  t,  t, t,  tr, d,  d,  d, tr,
          tr, t, tr, t, fr, dr, pk, t, pk, t,  tr, tr, t},
         &GuiaService::GetEmisGuiaPrev},
        {QStringLiteral("GetFunRural"), {t, t, t, d, d, tr}, &GuiaService::GetFunRural},
        {QStringLiteral("GeraFunRural"), {tr}, &GuiaService::GeraFunRural},
        {QStringLiteral("GetVdContaPagar"), {pk}, &GuiaService::GetVdContaPagar},
        {QStringLiteral("GetVdBeneficiario"), {tr}, &GuiaService::GetVdBeneficiario},
        {QStringLiteral("SetDtVenc"), {t, t, t, t, f, f}, &GuiaService::SetDtVenc},
        {QStringLiteral("GetCodRecePad"), {t}, &GuiaService::GetCodRecePad},
        {QStringLiteral("GetVdCodRece"), {t, t}, &GuiaService::GetVdCodRece},
        {QStringLiteral("GetImpostoNfe"), {t}, &GuiaService::GetImpostoNfe},
        {QStringLiteral("GetParamFilial"), {t}, &GuiaService::GetParamFilial},
        {QStringLiteral("GetMapa"), {d, t, t, t, t}, &GuiaService::GetMapa},
    };
    return list;
}

Variant GuiaService::call(const QString &method, QList<Variant> &args, const CallInfo &info)
{
    for (const MethodSpec &spec : methods()) {
        if (spec.name != method)
            continue;
        if (args.size() != spec.params.size())
            throw ServiceError(QStringLiteral("%1 espera %2 argumento(s), recebeu %3.")
                                   .arg(method)
                                   .arg(spec.params.size())
                                   .arg(args.size()));
        for (int i = 0; i < args.size(); ++i) {
            args[i] = normalized(args[i]);
            if (!kindAccepts(spec.params[i].kind, args[i]))
                throw ServiceError(QStringLiteral("%1: argumento %2 deveria ser %3.")
                                       .arg(method)
                                       .arg(i + 1)
                                       .arg(argKindName(spec.params[i].kind)));
            if (args[i].isNull())
                args[i] = emptyOf(spec.params[i].kind);
        }
        return (this->*spec.method)(args, info);
    }
    throw ServiceError(QStringLiteral("Método desconhecido: %1.").arg(method));
}

void GuiaService::audit(const QString &operador, const QString &operation, const QString &key,
                        const QString &detail)
{
    Sql(m_db, QStringLiteral("INSERT INTO AUDITORIA (DTHORA, NMOPERADOR, DSOPERACAO, DSCHAVE, "
                             "DSDETALHE) VALUES (?, ?, ?, ?, ?)"))
        .exec({now(), operador.left(60), operation, key.left(200), detail.left(2000)});
}

// ---------------------------------------------------------------------------------------------
// Lookups

Variant GuiaService::GetParamFiscal(QList<Variant> &, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT IDGERCONPAGGUIA FROM PARAMFISCAL WHERE NRPARAM = 1"));
    q.exec();
    PacketWriter w({str("IDGERCONPAGGUIA", 1)});
    if (q.next())
        w.addRow({q.text(0)});
    return makePacket(w.finish());
}

Variant GuiaService::GetImpostoNfe(QList<Variant> &a, const CallInfo &)
{
    const QString code = textArg(a, 0).trimmed();
    QString sql =
        QStringLiteral("SELECT CDIMPOSTONFE, SGIMPOSTONFE, IDORGARRECADNFE FROM IMPOSTONFE");
    QVariantList binds;
    if (!code.isEmpty()) {
        sql += QStringLiteral(" WHERE CDIMPOSTONFE = ?");
        binds << code;
    }
    sql += QStringLiteral(" ORDER BY CDIMPOSTONFE");
    Sql q(m_db, sql);
    q.exec(binds);
    PacketWriter w({str("CDIMPOSTONFE", 2), str("SGIMPOSTONFE", 10), str("IDORGARRECADNFE", 1)});
    while (q.next())
        w.addRow({q.text(0), q.text(1), q.text(2)});
    return makePacket(w.finish());
}

Variant GuiaService::GetCodRecePad(QList<Variant> &a, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT CDRECEPADRAO, CDVARIACAO, DSRECEPADRAO FROM RECEPADRAO "
                               "WHERE CDIMPOSTO = ? ORDER BY CDRECEPADRAO, CDVARIACAO"));
    q.exec({textArg(a, 0).trimmed()});
    PacketWriter w({str("CDRECEPADRAO", 4), str("CDVARIACAO", 2), str("DSRECEPADRAO", 1000)});
    while (q.next())
        w.addRow({q.text(0), q.text(1), q.text(2)});
    return makePacket(w.finish());
}

Variant GuiaService::GetVdCodRece(QList<Variant> &a, const CallInfo &)
{
    const QString code = normalizedCode(textArg(a, 1));
    PacketWriter w({str("CDRECEPADRAO", 4), str("CDVARIACAO", 2), str("DSRECEPADRAO", 1000)});
    if (!code.isEmpty()) {
        Sql q(m_db, QStringLiteral("SELECT CDRECEPADRAO, CDVARIACAO, DSRECEPADRAO FROM "
                                   "RECEPADRAO WHERE CDIMPOSTO = ? AND CDRECEPADRAO = ? "
                                   "ORDER BY CDVARIACAO"));
        q.exec({textArg(a, 0).trimmed(), code});
        if (q.next()) {
            w.addRow({q.text(0), q.text(1), q.text(2)});
            return makePacket(w.finish());
        }
    }
    // Not registered for the tax: one row with an empty code.
    w.addRow({QString(), QString(), QString()});
    return makePacket(w.finish());
}

Variant GuiaService::GetParamFilial(QList<Variant> &a, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT NRTAMNUMNFUT FROM PARAMFILIAL WHERE CDFILIAL = ?"));
    q.exec({textArg(a, 0).trimmed()});
    PacketWriter w({flt("NRTAMNUMNFUT")});
    if (q.next())
        w.addRow({q.number(0)});
    return makePacket(w.finish());
}

Variant GuiaService::GetVdBeneficiario(QList<Variant> &a, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT CDIMPOSTO, CDFORNECED, CDTPCTPAGAR, CDCLASSFINA FROM "
                               "BENEFIMPOSTO WHERE CDIMPOSTO = ? "
                               "ORDER BY CDFORNECED, CDTPCTPAGAR"));
    q.exec({textArg(a, 0).trimmed()});
    PacketWriter w(
        {str("CDIMPOSTO", 2), str("CDFORNECED", 21), str("CDTPCTPAGAR", 6), str("CDCLASSFINA", 6)});
    while (q.next())
        w.addRow({q.text(0), q.text(1), q.text(2), q.text(3)});
    return makePacket(w.finish());
}

Variant GuiaService::GetMapa(QList<Variant> &a, const CallInfo &)
{
    const QDate start = dateArg(a, 0);
    const QString kind = textArg(a, 4).trimmed();
    if (kind != QLatin1String("I") && kind != QLatin1String("F"))
        throw ServiceError(
            QStringLiteral("Tipo de pesquisa de mapa inválido: \"%1\" (use I ou F).").arg(kind));
    QString sql = QStringLiteral("SELECT DISTINCT DTINIPERIODO, DTFIMPERIODO FROM MAPAAPUR "
                                 "WHERE CDEMPRESA = ?");
    QVariantList binds{textArg(a, 1).trimmed()};
    if (!textArg(a, 2).trimmed().isEmpty()) {
        sql += QStringLiteral(" AND CDIMPOSTO = ?");
        binds << textArg(a, 2).trimmed();
    }
    if (!textArg(a, 3).trimmed().isEmpty()) {
        sql += QStringLiteral(" AND CDINSCESTA = ?");
        binds << textArg(a, 3).trimmed();
    }
    // The end-date lookup offers only periods ending on or after the chosen start.
    if (kind == QLatin1String("F") && start.isValid()) {
        sql += QStringLiteral(" AND DTFIMPERIODO >= ?");
        binds << sqlParam(start);
    }
    sql += QStringLiteral(" ORDER BY 1, 2");
    Sql q(m_db, sql);
    q.exec(binds);
    PacketWriter w({dt("DTINIPERIODO"), dt("DTFIMPERIODO")});
    while (q.next())
        w.addRow({dateValue(sqlDate(q.value(0))), dateValue(sqlDate(q.value(1)))});
    return makePacket(w.finish());
}

// ---------------------------------------------------------------------------------------------
// Invoice listing

DataPacket GuiaService::listInvoices(const Criteria &c)
{
    const bool entries = c.op == QLatin1String("E");
    const QString period = entries ? QStringLiteral("N.DTENTRSAID") : QStringLiteral("N.DTEMISSAO");
    // The entries view shows no customer, receiving branch, emission date or series: those
    // columns are neither read nor looked up for it (their places stay, as NULL).
    const auto column = [entries](const char *name) {
        return entries ? QStringLiteral("NULL") : QString::fromLatin1(name);
    };
    QString sql =
        QStringLiteral(
            "SELECT N.CDFILIAL, %3, %4, N.DTENTRSAID, %5, N.NRINSJURNF,"
            " %1, F.NMRAZSOCFORN, N.NRLANCTONF, N.NRNOTAFISC, %6,"
            " N.IDENTRSAIDOP, N.CDFILIEMIT, N.VRMULTAGUIA, N.VROUTRENTGUIA, N.CDRECEGUIA,"
            " N.VRNOTAFISC, N.DTVENCGUIA, N.VRTOTIMPONF, G.NRGUIA, N.CDFORNECED"
            " FROM NOTAFISCAL N"
            "%2"
            " LEFT JOIN FORNECEDOR F ON F.CDFORNECED = N.CDFORNECED"
            " LEFT JOIN GUIAPREV G ON G.CDFILIAL = N.CDFILIAL AND G.NRLANCTONF = N.NRLANCTONF"
            " WHERE N.IDENTRSAIDOP = ?")
            .arg(column("C.NMRAZSOCCLIE"),
                 entries ? QString()
                         : QStringLiteral(" LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"),
                 column("N.CDFILIRECE"), column("N.DTEMISSAO"), column("N.CDCLIENTE"),
                 column("N.CDSERIE"));
    QVariantList binds{c.op};
    const auto criterion = [&](const QString &value, const char *column) {
        if (!value.trimmed().isEmpty()) {
            sql += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
            binds << value.trimmed();
        }
    };
    criterion(c.company, "N.CDEMPRESA");
    criterion(c.inscEsta, "N.CDINSCESTA");
    criterion(c.inscMuni, "N.CDINSCMUNI");
    criterion(c.serie, "N.CDSERIE");
    criterion(c.numNF, "N.NRNOTAFISC");
    criterion(c.filial, "N.CDFILIAL");
    criterion(c.imposto, "N.CDIMPOSTO");
    criterion(c.inscForne, "N.NRINSJURNF");
    if (c.start.isValid()) {
        sql += QStringLiteral(" AND %1 >= ?").arg(period);
        binds << sqlParam(c.start);
    }
    if (c.end.isValid()) {
        sql += QStringLiteral(" AND %1 <= ?").arg(period);
        binds << sqlParam(c.end);
    }
    if (c.status == QLatin1String("P"))
        sql += QStringLiteral(" AND G.NRGUIA IS NULL");
    else if (c.status == QLatin1String("E"))
        sql += QStringLiteral(" AND G.NRGUIA IS NOT NULL");
    sql += QStringLiteral(" ORDER BY %1, N.CDFILIAL, N.NRLANCTONF").arg(period);

    Sql q(m_db, sql);
    q.exec(binds);
    PacketWriter w(entries ? aprovAgrupFields() : aprovFields());
    const QString unchecked = QStringLiteral("U");
    const QString emitted = QStringLiteral("S");
    while (q.next()) {
        const QString status = q.value(19).isNull() ? QString() : emitted;
        const Variant due = dateValue(sqlDate(q.value(17)));
        if (entries) {
            w.addRow({q.text(20), q.text(5), q.text(7) + QStringLiteral(": ") + q.text(9),
                      q.text(11), q.text(12), dateValue(sqlDate(q.value(3))), q.number(16),
                      unchecked, q.number(18), due, q.text(0), q.text(8), q.text(9), q.number(13),
                      q.number(14), q.text(15), status});
        } else {
            w.addRow({q.text(0),
                      q.text(1),
                      dateValue(sqlDate(q.value(2))),
                      dateValue(sqlDate(q.value(3))),
                      q.text(4),
                      q.text(5),
                      q.text(6),
                      q.text(7),
                      q.text(8),
                      q.text(9),
                      q.text(10),
                      q.text(11),
                      q.text(12),
                      q.number(13),
                      q.number(14),
                      q.text(15),
                      q.number(16),
                      unchecked,
                      due,
                      q.number(18),
                      status});
        }
    }
    return w.finish();
}

namespace {

QString statusLetter(const QString &raw, const char *allowed, const char *all)
{
    const QString s = raw.trimmed().toUpper();
    if (s.isEmpty())
        return QString::fromLatin1(all);
    if (s.size() != 1 || !QByteArray(allowed).contains(char(s.at(0).unicode())))
        throw ServiceError(QStringLiteral("Status do GPS inválido: \"%1\".").arg(raw));
    return s;
}

} // namespace

// The listing criteria of GetEmisGuiaPrev (arguments 2 to 12), shared by the listing and by the
// reload that follows an emission.
GuiaService::Criteria GuiaService::listingCriteria(const QList<Variant> &a, const QString &op)
{
    Criteria c;
    c.op = op;
    c.company = textArg(a, 1);
    c.inscEsta = textArg(a, 2);
    c.inscMuni = textArg(a, 3);
    c.serie = textArg(a, 4);
    c.numNF = textArg(a, 5);
    c.filial = textArg(a, 6);
    c.imposto = textArg(a, 7);
    c.inscForne = textArg(a, 8);
    c.status = statusLetter(textArg(a, 9), "PET", "T");
    c.start = dateArg(a, 10);
    c.end = dateArg(a, 11);
    return c;
}

Variant GuiaService::GetEmisGuiaPrev(QList<Variant> &a, const CallInfo &info)
{
    const QString op = textArg(a, 0).trimmed().toUpper();
    if (op == QLatin1String("SF"))
        return emitGuides(a, info, false);
    if (op == QLatin1String("EF"))
        return emitGuides(a, info, true);
    if (op != QLatin1String("S") && op != QLatin1String("E"))
        throw ServiceError(
            QStringLiteral("Operação inválida: \"%1\" (use S, E, SF ou EF).").arg(textArg(a, 0)));
    Criteria c = listingCriteria(a, op);
    a[9] = c.status;
    return makePacket(listInvoices(c));
}

// ---------------------------------------------------------------------------------------------
// Emission

QList<GuiaService::Invoice> GuiaService::lockInvoices(const QStringList &branches,
                                                      const QStringList &entries,
                                                      const QString &company,
                                                      const QString &operation)
{
    // Lock in key order so that two emissions over overlapping selections cannot deadlock.
    QMap<QPair<QString, QString>, bool> keys;
    for (int i = 0; i < branches.size(); ++i)
        keys.insert({branches[i], entries[i]}, true);

    QString select = QStringLiteral(
        "SELECT CDEMPRESA, IDENTRSAIDOP, NRNOTAFISC, CDFORNECED, VRTOTIMPONF, VRMULTAGUIA,"
        " VROUTRENTGUIA, DTVENCGUIA, CDRECEGUIA, CDIMPOSTO, NRINSJURNF FROM NOTAFISCAL"
        " WHERE CDFILIAL = ? AND NRLANCTONF = ?");
    if (m_kind == DbKind::Postgres)
        select += QStringLiteral(" FOR UPDATE");
    Sql invoice(m_db, select);
    Sql guide(m_db, QStringLiteral("SELECT NRGUIA FROM GUIAPREV WHERE CDFILIAL = ? AND "
                                   "NRLANCTONF = ?"));
    QList<Invoice> out;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        const QString &branch = it.key().first;
        const QString &entry = it.key().second;
        invoice.exec({branch, entry});
        if (!invoice.next())
            throw ServiceError(QStringLiteral("Nota fiscal não encontrada: filial %1, "
                                              "lançamento %2.")
                                   .arg(branch, entry));
        Invoice inv;
        inv.branch = branch;
        inv.entry = entry;
        inv.company = invoice.text(0);
        inv.operation = invoice.text(1);
        inv.nota = invoice.text(2);
        inv.supplier = invoice.text(3);
        inv.tax_value = invoice.number(4);
        inv.fine = invoice.number(5);
        inv.other = invoice.number(6);
        inv.due = sqlDate(invoice.value(7));
        inv.code = invoice.text(8);
        inv.tax = invoice.text(9);
        inv.registration = invoice.text(10);
        if (!company.trimmed().isEmpty() && inv.company != company.trimmed())
            throw ServiceError(QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) não "
                                              "é da empresa %4.")
                                   .arg(inv.nota, branch, entry, company.trimmed()));
        if (inv.operation != operation)
            throw ServiceError(
                QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) é de %4.")
                    .arg(inv.nota, branch, entry,
                         inv.operation == QLatin1String("E") ? QStringLiteral("entrada")
                                                             : QStringLiteral("saída")));
        guide.exec({branch, entry});
        if (guide.next())
            throw ServiceError(alreadyEmitted(inv.nota, branch, entry));
        out.append(inv);
    }
    return out;
}

struct GuiaService::Emission
{
    struct Group
    {
        QString supplier;
        QList<int> invoices;
        double total = 0;
        QDate due;
        QString code;
        QString debit, credit;
        qint64 payable = 0;
    };
    QString company, tax, operador;
    QList<Invoice> invoices;
    QList<Group> groups;
};

Variant GuiaService::emitGuides(QList<Variant> &a, const CallInfo &info, bool entries)
{
    QStringList branches, launches;
    QString error;
    if (!parseKeyList(textArg(a, 13), &branches, &error) ||
        !parseKeyList(textArg(a, 14), &launches, &error))
        throw ServiceError(error);
    if (branches.size() != launches.size())
        throw ServiceError(QStringLiteral("As listas de filiais (%1) e de lançamentos (%2) "
                                          "não têm o mesmo número de chaves.")
                               .arg(branches.size())
                               .arg(launches.size()));

    Criteria listing = listingCriteria(a, entries ? QStringLiteral("E") : QStringLiteral("S"));

    QString operador = textArg(a, 23).trimmed();
    if (operador.isEmpty())
        operador = info.operador;
    const QString operation = entries ? QStringLiteral("E") : QStringLiteral("S");
    const bool payables = entries && textArg(a, 15).trimmed() == QLatin1String("S");

    if (!payables) {
        {
            WriteTransaction tx(m_db, m_kind);
            const QList<Invoice> invoices =
                lockInvoices(branches, launches, textArg(a, 1), operation);
            Sql insert(m_db,
                       QStringLiteral("INSERT INTO GUIAPREV (CDFILIAL, NRLANCTONF, CDEMPRESA, "
                                      "DTEMISSAOGUIA, NMOPERADOR) VALUES (?, ?, ?, ?, ?)"));
            for (const Invoice &inv : invoices) {
                if (!insert.tryExec(
                        {inv.branch, inv.entry, inv.company, now(), operador.left(60)})) {
                    if (isUniqueViolation(insert.lastError()))
                        throw ServiceError(alreadyEmitted(inv.nota, inv.branch, inv.entry));
                    insert.fail();
                }
            }
            if (!invoices.isEmpty())
                audit(operador, QStringLiteral("EMISSAO_GUIA"), textArg(a, 13) + textArg(a, 14),
                      QStringLiteral("%1 guia(s) de %2").arg(invoices.size()).arg(operation));
            tx.commit();
        }
        a[13] = QStringLiteral("_");
        a[14] = QStringLiteral("_");
        return makePacket(listInvoices(listing));
    }

    // Entries with the payable of the guide: every failure is a result row.
    const auto answer = [&](const DataPacket &result, const DataPacket &integration) {
        return Variant(QVariantList{makePacket(result), makePacket(integration),
                                    makePacket(listInvoices(listing))});
    };
    Emission e;
    e.operador = operador;
    DataPacket integration;
    try {
        WriteTransaction tx(m_db, m_kind);
        e.invoices = lockInvoices(branches, launches, textArg(a, 1), operation);
        if (e.invoices.isEmpty())
            throw ServiceError(QStringLiteral("Para gerar a guia pelo menos uma nota fiscal deve "
                                              "estar selecionada."));
        e.company = e.invoices.first().company;
        e.tax =
            textArg(a, 7).trimmed().isEmpty() ? e.invoices.first().tax : textArg(a, 7).trimmed();
        const QDate sentDue = dateArg(a, 19);
        QMap<QString, int> groupOf;
        double grandTotal = 0;
        for (int i = 0; i < e.invoices.size(); ++i) {
            const Invoice &inv = e.invoices[i];
            if (inv.company != e.company)
                throw ServiceError(QStringLiteral("As notas fiscais selecionadas devem ser da "
                                                  "mesma empresa."));
            if (inv.tax != e.tax)
                throw ServiceError(
                    QStringLiteral("A nota fiscal %1 não é do imposto %2.").arg(inv.nota, e.tax));
            if (inv.code.trimmed().isEmpty())
                throw ServiceError(
                    QStringLiteral("A nota fiscal %1 não tem código da receita.").arg(inv.nota));
            if (!groupOf.contains(inv.supplier)) {
                groupOf.insert(inv.supplier, int(e.groups.size()));
                Emission::Group g;
                g.supplier = inv.supplier;
                g.code = inv.code;
                g.due = sentDue.isValid() ? sentDue : inv.due;
                e.groups.append(g);
            }
            Emission::Group &g = e.groups[groupOf.value(inv.supplier)];
            if (inv.code != g.code)
                throw ServiceError(QStringLiteral("As notas fiscais do fornecedor %1 têm códigos "
                                                  "da receita diferentes.")
                                       .arg(inv.registration));
            if (!sentDue.isValid() && inv.due != g.due)
                throw ServiceError(QStringLiteral("As notas fiscais do fornecedor %1 têm "
                                                  "vencimentos diferentes.")
                                       .arg(inv.registration));
            g.invoices.append(i);
            g.total += inv.tax_value + inv.fine + inv.other;
            grandTotal += inv.tax_value + inv.fine + inv.other;
        }
        grandTotal = roundCents(grandTotal);
        const double sentTotal = floatArg(a, 18);
        if (sentTotal != 0 && std::abs(roundCents(sentTotal) - grandTotal) > 0.005)
            throw ServiceError(QStringLiteral("O valor total enviado (R$ %1) não confere com o "
                                              "das notas fiscais selecionadas (R$ %2). Atualize "
                                              "a tela e selecione as notas novamente.")
                                   .arg(money(sentTotal), money(grandTotal)));
        for (Emission::Group &g : e.groups) {
            g.total = roundCents(g.total);
            if (!g.due.isValid())
                throw ServiceError(QStringLiteral("Informe o vencimento das notas fiscais "
                                                  "selecionadas."));
            if (g.total < kMinimumGuideValue)
                throw ServiceError(QStringLiteral("O valor total das notas fiscais selecionadas "
                                                  "deve ser maior que dez reais(R$10,00): "
                                                  "R$ %1.")
                                       .arg(money(g.total)));
        }

        Sql payee(m_db, QStringLiteral("SELECT CDFORNECED, CDTPCTPAGAR, CDCLASSFINA FROM "
                                       "BENEFIMPOSTO WHERE CDIMPOSTO = ? "
                                       "ORDER BY CDFORNECED, CDTPCTPAGAR"));
        payee.exec({e.tax});
        if (!payee.next())
            throw ServiceError(QStringLiteral("Os impostos relacionados devem possuir "
                                              "beneficiário e conta a pagar cadastrados."));
        const QString payeeCode = payee.text(0), payableType = payee.text(1),
                      finClass = payee.text(2);

        // Accounts: the corrected integration packet when it comes back, else the tax's.
        const DataPacket corrected = packetArg(a, 22);
        if (!corrected.isNull()) {
            try {
                const PacketReader r(corrected);
                const int sup = r.fieldIndex(QStringLiteral("CDFORNNOTA"));
                const int dc = r.fieldIndex(QStringLiteral("IDDEBCRED"));
                const int acc = r.fieldIndex(QStringLiteral("CDCONTACONTABIL"));
                if (sup < 0 || dc < 0 || acc < 0)
                    throw ServiceError(QStringLiteral("Pacote de integração contábil sem as "
                                                      "colunas CDFORNNOTA, IDDEBCRED e "
                                                      "CDCONTACONTABIL."));
                for (const QVariantList &row : r.rows()) {
                    const int gi = groupOf.value(row.at(sup).toString(), -1);
                    if (gi < 0)
                        continue;
                    const QString account = row.at(acc).toString().trimmed();
                    if (row.at(dc).toString() == QLatin1String("D"))
                        e.groups[gi].debit = account;
                    else if (row.at(dc).toString() == QLatin1String("C"))
                        e.groups[gi].credit = account;
                }
            } catch (const PacketError &pe) {
                throw ServiceError(
                    QStringLiteral("Pacote de integração contábil inválido: %1").arg(pe.message()));
            }
        } else {
            Sql accounts(m_db, QStringLiteral("SELECT CDCONTADEB, CDCONTACRED FROM CONTAIMPOSTO "
                                              "WHERE CDEMPRESA = ? AND CDIMPOSTO = ?"));
            accounts.exec({e.company, e.tax});
            if (accounts.next()) {
                for (Emission::Group &g : e.groups) {
                    g.debit = accounts.text(0).trimmed();
                    g.credit = accounts.text(1).trimmed();
                }
            }
        }
        Sql known(m_db, QStringLiteral("SELECT 1 FROM CONTACONTABIL WHERE CDCONTACONTABIL = ?"));
        const auto exists = [&](const QString &account) {
            if (account.isEmpty())
                return false;
            known.exec({account});
            return known.next();
        };
        bool accountsOk = true;
        PacketWriter iw(integrationFields());
        for (const Emission::Group &g : e.groups) {
            const QString history = QStringLiteral("GPS %1 - fornecedor %2")
                                        .arg(e.tax, e.invoices[g.invoices.first()].registration);
            for (const auto &[side, account] : {std::pair{QStringLiteral("D"), g.debit},
                                                std::pair{QStringLiteral("C"), g.credit}}) {
                QString problem;
                if (account.isEmpty())
                    problem = QStringLiteral("Conta contábil não informada.");
                else if (!exists(account))
                    problem = QStringLiteral("Conta contábil %1 não cadastrada.").arg(account);
                accountsOk = accountsOk && problem.isEmpty();
                iw.addRow({e.company, e.tax, payeeCode, g.supplier, side, account, g.total, history,
                           problem});
            }
        }
        if (!accountsOk) {
            integration = iw.finish();
            throw ServiceError(QStringLiteral("ERRO_CONTABILIZACAO"));
        }

        Sql payable(m_db,
                    QStringLiteral("INSERT INTO CONTAPAGAR (CDEMPRESA, CDFORNECED, CDFORNNOTA,"
                                   " CDTPCTPAGAR, CDCLASSFINA, CDIMPOSTO, CDRECEGUIA,"
                                   " VRCONTAPAGAR, DTVENCIMENTO, DTINCLUSAO, NMOPERADOR)"
                                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                   " RETURNING NRCONTAPAGAR"));
        Sql guide(m_db, QStringLiteral("INSERT INTO GUIAPREV (CDFILIAL, NRLANCTONF, CDEMPRESA, "
                                       "DTEMISSAOGUIA, NMOPERADOR, NRCONTAPAGAR) "
                                       "VALUES (?, ?, ?, ?, ?, ?)"));
        Sql posting(m_db, QStringLiteral("INSERT INTO LANCCONTABIL (NRCONTAPAGAR, CDCONTACONTABIL,"
                                         " IDDEBCRED, VRLANCAMENTO, DSHISTORICO, DTLANCAMENTO)"
                                         " VALUES (?, ?, ?, ?, ?, ?)"));
        Sql forecast(m_db, QStringLiteral("DELETE FROM CONTAPREVISTA WHERE CDFILIAL = ? AND "
                                          "NRLANCTONF = ?"));
        const QDateTime stamp = now();
        QStringList done;
        for (Emission::Group &g : e.groups) {
            payable.exec({e.company, payeeCode, g.supplier, payableType, finClass, e.tax, g.code,
                          g.total, sqlParam(g.due), stamp, operador.left(60)});
            if (!payable.next())
                payable.fail();
            g.payable = payable.value(0).toLongLong();
            payable.finish(); // a RETURNING statement left open would hold back the commit
            for (int i : g.invoices) {
                const Invoice &inv = e.invoices[i];
                if (!guide.tryExec({inv.branch, inv.entry, inv.company, stamp, operador.left(60),
                                    g.payable})) {
                    if (isUniqueViolation(guide.lastError()))
                        throw ServiceError(alreadyEmitted(inv.nota, inv.branch, inv.entry));
                    guide.fail();
                }
                forecast.exec({inv.branch, inv.entry});
            }
            const QString history =
                QStringLiteral("GPS %1 - conta a pagar %2").arg(e.tax).arg(g.payable);
            posting.exec({g.payable, g.debit, QStringLiteral("D"), g.total, history,
                          sqlParam(stamp.date())});
            posting.exec({g.payable, g.credit, QStringLiteral("C"), g.total, history,
                          sqlParam(stamp.date())});
            done << QStringLiteral("conta a pagar nº %1 de R$ %2 com vencimento em %3")
                        .arg(g.payable)
                        .arg(money(g.total), brDate(g.due));
        }
        audit(operador, QStringLiteral("EMISSAO_GUIA"), textArg(a, 13) + textArg(a, 14),
              QStringLiteral("%1 guia(s) de entrada; %2")
                  .arg(e.invoices.size())
                  .arg(done.join(u"; ")));
        tx.commit();
        a[13] = QStringLiteral("_");
        a[14] = QStringLiteral("_");
        a[18] = grandTotal;
        a[19] = makeDate(TDateTime::fromDate(e.groups.first().due));
        return answer(resultPacket(QStringLiteral("OK"),
                                   QStringLiteral("Guia emitida: %1.").arg(done.join(u"; "))),
                      DataPacket());
    } catch (const ServiceError &err) {
        if (err.message() == QLatin1String("ERRO_CONTABILIZACAO"))
            return answer(resultPacket(QStringLiteral("MSG"), err.message()), integration);
        return answer(resultPacket(QStringLiteral("ERR"), err.message()), DataPacket());
    }
}

// ---------------------------------------------------------------------------------------------
// Payables of a selection

Variant GuiaService::GetVdContaPagar(QList<Variant> &a, const CallInfo &info)
{
    const DataPacket packet = packetArg(a, 0);
    QList<QPair<QString, QString>> keys;
    if (!packet.isNull()) {
        try {
            const PacketReader r(packet);
            const int branch = r.fieldIndex(QStringLiteral("CDFILIAL"));
            const int entry = r.fieldIndex(QStringLiteral("NRLANCTONF"));
            if (branch < 0 || entry < 0)
                throw ServiceError(QStringLiteral("Pacote das notas selecionadas sem as colunas "
                                                  "CDFILIAL e NRLANCTONF."));
            for (const QVariantList &row : r.rows())
                keys.append(
                    {row.at(branch).toString().trimmed(), row.at(entry).toString().trimmed()});
        } catch (const PacketError &pe) {
            throw ServiceError(
                QStringLiteral("Pacote das notas selecionadas inválido: %1").arg(pe.message()));
        }
    }
    Sql existing(m_db, QStringLiteral("SELECT N.NRNOTAFISC FROM GUIAPREV G JOIN NOTAFISCAL N ON "
                                      "N.CDFILIAL = G.CDFILIAL AND N.NRLANCTONF = G.NRLANCTONF "
                                      "WHERE G.CDFILIAL = ? AND G.NRLANCTONF = ? AND "
                                      "G.NRCONTAPAGAR IS NOT NULL"));
    QStringList withPayable;
    for (const auto &[branch, entry] : keys) {
        existing.exec({branch, entry});
        if (existing.next())
            withPayable << QStringLiteral("%1 (filial %2)").arg(existing.text(0), branch);
    }
    if (!withPayable.isEmpty()) {
        return QVariantList{
            QStringLiteral("Notas fiscais com conta a pagar: %1.").arg(withPayable.join(u", ")),
            QString()};
    }
    try {
        WriteTransaction tx(m_db, m_kind);
        Sql select(m_db, QStringLiteral("SELECT NRCONTAPREV, VRCONTAPREV, DTVENCIMENTO FROM "
                                        "CONTAPREVISTA WHERE CDFILIAL = ? AND NRLANCTONF = ?"));
        Sql remove(m_db, QStringLiteral("DELETE FROM CONTAPREVISTA WHERE NRCONTAPREV = ?"));
        for (const auto &[branch, entry] : keys) {
            select.exec({branch, entry});
            QList<qint64> ids;
            while (select.next()) {
                ids << select.value(0).toLongLong();
                // The audit row keeps what was deleted.
                audit(info.operador, QStringLiteral("EXCLUSAO_CONTA_PREVISTA"),
                      QStringLiteral("%1/%2").arg(branch, entry),
                      QStringLiteral("conta prevista %1 de R$ %2 com vencimento em %3")
                          .arg(select.value(0).toLongLong())
                          .arg(money(select.number(1)), brDate(sqlDate(select.value(2)))));
            }
            for (qint64 id : ids)
                remove.exec({id});
        }
        tx.commit();
    } catch (const ServiceError &err) {
        return QVariantList{QString(), err.message()};
    }
    return QVariantList{QString(), QStringLiteral("OK")};
}

// ---------------------------------------------------------------------------------------------
// Due date, revenue code and values of one invoice

namespace {

const char kSetDtVencRead[] =
    "SELECT N.CDIMPOSTO, N.DTVENCGUIA, N.CDRECEGUIA, N.VROUTRENTGUIA, N.VRMULTAGUIA,"
    " N.NRNOTAFISC, G.NRGUIA,"
    " (SELECT R.CDRECEPADRAO FROM RECEPADRAO R WHERE R.CDIMPOSTO = N.CDIMPOSTO"
    "  AND R.CDRECEPADRAO = ? ORDER BY R.CDVARIACAO LIMIT 1)"
    " FROM NOTAFISCAL N LEFT JOIN GUIAPREV G ON"
    " G.CDFILIAL = N.CDFILIAL AND G.NRLANCTONF = N.NRLANCTONF"
    " WHERE N.CDFILIAL = ? AND N.NRLANCTONF = ?";

} // namespace

Variant GuiaService::SetDtVenc(QList<Variant> &a, const CallInfo &info)
{
    const QString branch = textArg(a, 0).trimmed();
    const QString entry = textArg(a, 1).trimmed();
    const QString dueText = textArg(a, 2).trimmed();
    const QString typedCode = textArg(a, 3).trimmed();
    const double other = floatArg(a, 4);
    const double fine = floatArg(a, 5);
    if (branch.isEmpty() || entry.isEmpty())
        throw ServiceError(QStringLiteral("Filial e lançamento da nota fiscal devem ser "
                                          "informados."));
    QDate due;
    if (!dueText.isEmpty() && dueText != QLatin1String("/  /")) {
        due = QDate::fromString(dueText, u"dd/MM/yyyy");
        if (!due.isValid() || due.year() < 1900)
            throw ServiceError(
                QStringLiteral("Data de vencimento inválida: \"%1\" (use dd/mm/aaaa).")
                    .arg(dueText));
    }
    for (double v : {other, fine}) {
        if (!std::isfinite(v) || v < 0 || v >= 1e12)
            throw ServiceError(QStringLiteral("Valor inválido para multa ou outras entidades."));
    }

    // One read for the invoice, its guide and the typed revenue code of its tax.
    const QString typed = typedCode.isEmpty() ? QString() : normalizedCode(typedCode);
    WriteTransaction tx(m_db, m_kind);
    Sql q(m_db, m_kind == DbKind::Postgres
                    ? QStringLiteral("%1 FOR UPDATE OF N").arg(kSetDtVencRead)
                    : QString::fromLatin1(kSetDtVencRead));
    q.exec({typed, branch, entry});
    if (!q.next())
        throw ServiceError(QStringLiteral("Nota fiscal não encontrada: filial %1, lançamento %2.")
                               .arg(branch, entry));
    const QString tax = q.text(0);
    const QDate oldDue = sqlDate(q.value(1));
    const QString oldCode = q.text(2);
    const double oldOther = q.number(3), oldFine = q.number(4);
    const QString nota = q.text(5);
    const bool emitted = !q.value(6).isNull();
    const QString code = q.text(7);
    q.finish();
    if (!typedCode.isEmpty() && code.isEmpty())
        throw ServiceError(QStringLiteral("Código da Receita %1 não está parametrizado para o "
                                          "imposto %2.")
                               .arg(typedCode, tax));
    const bool unchanged = due == oldDue && code == oldCode.trimmed() &&
                           std::abs(other - oldOther) < 0.005 && std::abs(fine - oldFine) < 0.005;
    if (emitted && !unchanged)
        throw ServiceError(QStringLiteral("A guia da nota fiscal %1 (filial %2, lançamento %3) já "
                                          "foi emitida: vencimento, código da receita e valores "
                                          "não podem mais ser alterados.")
                               .arg(nota, branch, entry));
    if (!unchanged) {
        Sql(m_db, QStringLiteral("UPDATE NOTAFISCAL SET DTVENCGUIA = ?, CDRECEGUIA = ?, "
                                 "VROUTRENTGUIA = ?, VRMULTAGUIA = ? WHERE CDFILIAL = ? AND "
                                 "NRLANCTONF = ?"))
            .exec({sqlParam(due),
                   code.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(code),
                   other, fine, branch, entry});
        audit(info.operador, QStringLiteral("ALTERACAO_VENCIMENTO"),
              QStringLiteral("%1/%2").arg(branch, entry),
              QStringLiteral("vencimento %1 -> %2; receita %3 -> %4; outras entidades %5 -> %6; "
                             "multa %7 -> %8")
                  .arg(brDate(oldDue), brDate(due), oldCode, code, money(oldOther), money(other),
                       money(oldFine), money(fine)));
    }
    tx.commit();
    PacketWriter w({str("CDFILIAL", 4), str("NRLANCTONF", 10), dt("VENCIMENTO"),
                    str("CDRECEGUIA", 5), flt("VROUTRENTGUIA"), flt("VRMULTAGUIA")});
    w.addRow({branch, entry, dateValue(due), code, other, fine});
    return makePacket(w.finish());
}

// ---------------------------------------------------------------------------------------------
// Rural contribution maps

namespace {

const char kMapColumns[] =
    "SELECT DTINIPERIODO, DTFIMPERIODO, NMMAPAAPUR, VRTTCTBLCRE, CDINSCESTA, IDSTATUS,"
    " NRSEQUMAPAPU FROM MAPAAPUR";

void appendMapRows(Sql &q, PacketWriter &w)
{
    while (q.next()) {
        w.addRow({dateValue(sqlDate(q.value(0))), dateValue(sqlDate(q.value(1))), q.text(2),
                  q.number(3), q.text(4), q.text(5), QStringLiteral("U"),
                  QString::number(q.value(6).toLongLong())});
    }
}

DataPacket mapPacket(Sql &q)
{
    PacketWriter w(funRuralFields());
    appendMapRows(q, w);
    return w.finish();
}

} // namespace

Variant GuiaService::GetFunRural(QList<Variant> &a, const CallInfo &)
{
    const QString status = statusLetter(textArg(a, 5), "NST", "T");
    QString sql = QString::fromLatin1(kMapColumns) + QStringLiteral(" WHERE 1 = 1");
    QVariantList binds;
    const auto criterion = [&](const QString &value, const char *column) {
        if (!value.trimmed().isEmpty()) {
            sql += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
            binds << value.trimmed();
        }
    };
    criterion(textArg(a, 1), "CDEMPRESA");
    criterion(textArg(a, 0), "CDIMPOSTO");
    criterion(textArg(a, 2), "CDINSCESTA");
    if (dateArg(a, 3).isValid()) {
        sql += QStringLiteral(" AND DTINIPERIODO >= ?");
        binds << sqlParam(dateArg(a, 3));
    }
    if (dateArg(a, 4).isValid()) {
        sql += QStringLiteral(" AND DTFIMPERIODO <= ?");
        binds << sqlParam(dateArg(a, 4));
    }
    if (status == QLatin1String("N"))
        sql += QStringLiteral(" AND IDSTATUS <> 'S'");
    else if (status == QLatin1String("S"))
        sql += QStringLiteral(" AND IDSTATUS = 'S'");
    sql += QStringLiteral(" ORDER BY DTINIPERIODO, NRSEQUMAPAPU");
    Sql q(m_db, sql);
    q.exec(binds);
    a[5] = status;
    return makePacket(mapPacket(q));
}

Variant GuiaService::GeraFunRural(QList<Variant> &a, const CallInfo &info)
{
    QStringList maps;
    QString error;
    if (!parseKeyList(textArg(a, 0), &maps, &error))
        throw ServiceError(error);
    maps.removeDuplicates();
    QList<qint64> numbers;
    for (const QString &m : maps) {
        bool ok = false;
        const qint64 n = m.toLongLong(&ok);
        if (!ok)
            throw ServiceError(QStringLiteral("Número de mapa inválido: %1.").arg(m));
        numbers << n;
    }
    std::sort(numbers.begin(), numbers.end());
    {
        WriteTransaction tx(m_db, m_kind);
        Sql exists(m_db,
                   QStringLiteral("SELECT IDSTATUS FROM MAPAAPUR WHERE NRSEQUMAPAPU = ?") +
                       (m_kind == DbKind::Postgres ? QStringLiteral(" FOR UPDATE") : QString()));
        Sql mark(m_db, QStringLiteral("UPDATE MAPAAPUR SET IDSTATUS = 'S', DTEMISSAOGUIA = ? "
                                      "WHERE NRSEQUMAPAPU = ?"));
        int marked = 0;
        for (qint64 n : numbers) {
            exists.exec({n});
            if (!exists.next())
                throw ServiceError(QStringLiteral("Mapa de apuração %1 não encontrado.").arg(n));
            if (exists.text(0) == QLatin1String("S"))
                continue; // already emitted: nothing to change
            mark.exec({now(), n});
            ++marked;
        }
        if (marked > 0)
            audit(info.operador, QStringLiteral("EMISSAO_FUNRURAL"), textArg(a, 0),
                  QStringLiteral("%1 mapa(s) marcados como emitidos").arg(marked));
        tx.commit();
    }
    // The answer: the listed maps as they are now, one prepared lookup per map.
    Sql q(m_db, QString::fromLatin1(kMapColumns) + QStringLiteral(" WHERE NRSEQUMAPAPU = ?"));
    PacketWriter w(funRuralFields());
    for (qint64 n : numbers) {
        q.exec({n});
        appendMapRows(q, w);
    }
    return makePacket(w.finish());
}

} // namespace fis
