// SetDtVenc: the due date, revenue code and values of one invoice, audited, frozen once its
// guide exists.
#include "guiaservice.h"

#include "sqlhelpers.h"

#include <cmath>

namespace fis {

using namespace service;

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

Variant GuiaService::SetDtVenc(const rdmEmisGuiaPrv::SetDtVencArgs &a, const CallInfo &info)
{
    const QString branch = a.cdFilial.trimmed();
    const QString entry = a.nrLanctoNf.trimmed();
    const QString dueText = a.vencimento.trimmed();
    const QString typedCode = a.cdReceGuia.trimmed();
    const double other = a.vrOutrEntGuia;
    const double fine = a.vrMultaGuia;
    if (branch.isEmpty() || entry.isEmpty())
        throw ServiceError(QStringLiteral("Filial e lançamento da nota fiscal devem ser "
                                          "informados."));
    QDate due;
    if (!dueText.isEmpty() && dueText != QLatin1String("/  /")) {
        due = QDate::fromString(dueText, u"dd/MM/yyyy");
        if (!dueDateAllowed(due))
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
    if (m_kind == DbKind::Postgres) {
        // The invoice is locked first, the guide read after: a statement that waited for the
        // lock reads with the snapshot it started with (READ COMMITTED), in which a guide
        // committed meanwhile by an emission holding that lock does not exist yet.
        Sql(m_db, QStringLiteral("SELECT 1 FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                 "FOR UPDATE"))
            .exec({branch, entry});
    }
    Sql q(m_db, QString::fromLatin1(kSetDtVencRead));
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
        audit(info.who(), QStringLiteral("ALTERACAO_VENCIMENTO"),
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

} // namespace fis
