// The rural contribution maps: their listing, their emission and the periods the filter
// dialog offers.
#include "guiaservice.h"

#include "identifiers.h"
#include "sqlhelpers.h"

#include <algorithm>

namespace fis {

using namespace service;

namespace {

const QList<PacketField> &funRuralFields()
{
    static const QList<PacketField> f = {
        dt("DTINIPERIODO"),    dt("DTFIMPERIODO"), str("NMMAPAAPUR", 30), flt("VRTTCTBLCRE"),
        str("CDINSCESTA", 16), str("IDSTATUS", 1), fixed("IDCHECK", 1),   str("NRSEQUMAPAPU", 10)};
    return f;
}

} // namespace

Variant GuiaService::GetMapa(const rdmEmisGuiaPrv::GetMapaArgs &a, const CallInfo &)
{
    const QDate start = a.dtEmiIni.toDate();
    const QString kind = a.idTipo.trimmed();
    if (kind != QLatin1String("I") && kind != QLatin1String("F"))
        throw ServiceError(
            QStringLiteral("Tipo de pesquisa de mapa inválido: \"%1\" (use I ou F).").arg(kind));
    QString sql = QStringLiteral("SELECT DISTINCT DTINIPERIODO, DTFIMPERIODO FROM MAPAAPUR "
                                 "WHERE CDEMPRESA = ?");
    QVariantList binds{a.cdEmpresa.trimmed()};
    if (!a.cdImposto.trimmed().isEmpty()) {
        sql += QStringLiteral(" AND CDIMPOSTO = ?");
        binds << a.cdImposto.trimmed();
    }
    if (!a.cdInscEsta.trimmed().isEmpty()) {
        sql += QStringLiteral(" AND CDINSCESTA = ?");
        binds << a.cdInscEsta.trimmed();
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

Variant GuiaService::GetFunRural(rdmEmisGuiaPrv::GetFunRuralArgs &a, const CallInfo &)
{
    const QString status = statusLetter(a.stStatus, "NST", "T");
    QString sql = QString::fromLatin1(kMapColumns) + QStringLiteral(" WHERE 1 = 1");
    QVariantList binds;
    const auto criterion = [&](const QString &value, const char *column) {
        if (!value.trimmed().isEmpty()) {
            sql += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
            binds << value.trimmed();
        }
    };
    criterion(a.cdEmpresa, "CDEMPRESA");
    criterion(a.cdImposto, "CDIMPOSTO");
    criterion(a.cdInscEsta, "CDINSCESTA");
    if (a.dtEmiIni.toDate().isValid()) {
        sql += QStringLiteral(" AND DTINIPERIODO >= ?");
        binds << sqlParam(a.dtEmiIni.toDate());
    }
    if (a.dtEmiFin.toDate().isValid()) {
        sql += QStringLiteral(" AND DTFIMPERIODO <= ?");
        binds << sqlParam(a.dtEmiFin.toDate());
    }
    if (status == QLatin1String("N"))
        sql += QStringLiteral(" AND IDSTATUS <> 'S'");
    else if (status == QLatin1String("S"))
        sql += QStringLiteral(" AND IDSTATUS = 'S'");
    sql += QStringLiteral(" ORDER BY DTINIPERIODO, NRSEQUMAPAPU");
    Sql q(m_db, sql);
    q.exec(binds);
    a.stStatus = status;
    return makePacket(mapPacket(q));
}

Variant GuiaService::GeraFunRural(const rdmEmisGuiaPrv::GeraFunRuralArgs &a, const CallInfo &info)
{
    QStringList maps;
    QString error;
    if (!parseKeyList(a.stNrMapa, &maps, &error))
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
            audit(info.who(), QStringLiteral("EMISSAO_FUNRURAL"), a.stNrMapa,
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
