// The lookups of the filter dialog and of the emission: fiscal and branch parameters, taxes,
// revenue codes and the payee of a tax.
#include "guiaservice.h"

#include "sqlhelpers.h"

namespace fis {

using namespace service;

Variant GuiaService::GetParamFiscal(const rdmEmisGuiaPrv::GetParamFiscalArgs &, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT IDGERCONPAGGUIA FROM PARAMFISCAL WHERE NRPARAM = 1"));
    q.exec();
    PacketWriter w({str("IDGERCONPAGGUIA", 1)});
    if (q.next())
        w.addRow({q.text(0)});
    return makePacket(w.finish());
}

Variant GuiaService::GetImpostoNfe(const rdmEmisGuiaPrv::GetImpostoNfeArgs &a, const CallInfo &)
{
    const QString code = a.cdImposto.trimmed();
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

Variant GuiaService::GetCodRecePad(const rdmEmisGuiaPrv::GetCodRecePadArgs &a, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT CDRECEPADRAO, CDVARIACAO, DSRECEPADRAO FROM RECEPADRAO "
                               "WHERE CDIMPOSTO = ? ORDER BY CDRECEPADRAO, CDVARIACAO"));
    q.exec({a.cdImposto.trimmed()});
    PacketWriter w({str("CDRECEPADRAO", 4), str("CDVARIACAO", 2), str("DSRECEPADRAO", 1000)});
    while (q.next())
        w.addRow({q.text(0), q.text(1), q.text(2)});
    return makePacket(w.finish());
}

Variant GuiaService::GetVdCodRece(const rdmEmisGuiaPrv::GetVdCodReceArgs &a, const CallInfo &)
{
    const QString code = normalizedCode(a.cdReceGuia);
    PacketWriter w({str("CDRECEPADRAO", 4), str("CDVARIACAO", 2), str("DSRECEPADRAO", 1000)});
    if (!code.isEmpty()) {
        Sql q(m_db, QStringLiteral("SELECT CDRECEPADRAO, CDVARIACAO, DSRECEPADRAO FROM "
                                   "RECEPADRAO WHERE CDIMPOSTO = ? AND CDRECEPADRAO = ? "
                                   "ORDER BY CDVARIACAO"));
        q.exec({a.cdImposto.trimmed(), code});
        if (q.next()) {
            w.addRow({q.text(0), q.text(1), q.text(2)});
            return makePacket(w.finish());
        }
    }
    // Not registered for the tax: one row with an empty code.
    w.addRow({QString(), QString(), QString()});
    return makePacket(w.finish());
}

Variant GuiaService::GetParamFilial(const rdmEmisGuiaPrv::GetParamFilialArgs &a, const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT NRTAMNUMNFUT FROM PARAMFILIAL WHERE CDFILIAL = ?"));
    q.exec({a.cdFilial.trimmed()});
    PacketWriter w({flt("NRTAMNUMNFUT")});
    if (q.next())
        w.addRow({q.number(0)});
    return makePacket(w.finish());
}

Variant GuiaService::GetVdBeneficiario(const rdmEmisGuiaPrv::GetVdBeneficiarioArgs &a,
                                       const CallInfo &)
{
    Sql q(m_db, QStringLiteral("SELECT CDIMPOSTO, CDFORNECED, CDTPCTPAGAR, CDCLASSFINA FROM "
                               "BENEFIMPOSTO WHERE CDIMPOSTO = ? "
                               "ORDER BY CDFORNECED, CDTPCTPAGAR"));
    q.exec({a.cdImposto.trimmed()});
    PacketWriter w(
        {str("CDIMPOSTO", 2), str("CDFORNECED", 21), str("CDTPCTPAGAR", 6), str("CDCLASSFINA", 6)});
    while (q.next())
        w.addRow({q.text(0), q.text(1), q.text(2), q.text(3)});
    return makePacket(w.finish());
}

} // namespace fis
