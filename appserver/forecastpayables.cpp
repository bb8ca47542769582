// GetVdContaPagar: the payables of a selection before the emission: none may exist yet, and the
// forecast payables of the selected invoices may be replaced. Nothing is written: the emission
// removes the forecast payables in its own transaction (removeForecastPayables).
#include "guiaservice.h"

#include "sqlhelpers.h"

namespace fis {

using namespace service;

Variant GuiaService::GetVdContaPagar(const rdmEmisGuiaPrv::GetVdContaPagarArgs &a, const CallInfo &)
{
    const DataPacket &packet = a.forneAux;
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
    // Only the emission that replaces them removes the forecast payables; here it is only
    // checked that it may: every selected invoice exists and is an entry.
    Sql invoice(m_db, QStringLiteral("SELECT IDENTRSAIDOP, NRNOTAFISC FROM NOTAFISCAL WHERE "
                                     "CDFILIAL = ? AND NRLANCTONF = ?"));
    for (const auto &[branch, entry] : keys) {
        invoice.exec({branch, entry});
        if (!invoice.next())
            return QVariantList{QString(), QStringLiteral("Nota fiscal não encontrada: filial "
                                                          "%1, lançamento %2.")
                                               .arg(branch, entry)};
        if (invoice.text(0) != QLatin1String("E"))
            return QVariantList{QString(),
                                QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) "
                                               "não é de entrada.")
                                    .arg(invoice.text(1), branch, entry)};
    }
    return QVariantList{QString(), QStringLiteral("OK")};
}

void GuiaService::removeForecastPayables(const QList<QPair<QString, QString>> &keys,
                                         const QString &operador)
{
    Sql select(m_db, QStringLiteral("SELECT NRCONTAPREV, VRCONTAPREV, DTVENCIMENTO FROM "
                                    "CONTAPREVISTA WHERE CDFILIAL = ? AND NRLANCTONF = ?"));
    Sql remove(m_db, QStringLiteral("DELETE FROM CONTAPREVISTA WHERE NRCONTAPREV = ?"));
    for (const auto &[branch, entry] : keys) {
        select.exec({branch, entry});
        QList<qint64> ids;
        while (select.next()) {
            ids << select.value(0).toLongLong();
            // The audit row keeps what was removed.
            audit(operador, QStringLiteral("EXCLUSAO_CONTA_PREVISTA"),
                  QStringLiteral("%1/%2").arg(branch, entry),
                  QStringLiteral("conta prevista %1 de R$ %2 com vencimento em %3")
                      .arg(select.value(0).toLongLong())
                      .arg(money(select.number(1)), brDate(sqlDate(select.value(2)))));
        }
        for (qint64 id : ids)
            remove.exec({id});
    }
}

} // namespace fis
