// The emission of guides ("SF", "EF"): the selected invoices locked and checked, their guides,
// and for grouped entries the payables with their postings.
#include "guiaservice.h"

#include "identifiers.h"
#include "sqlhelpers.h"

#include <QMap>

#include <cmath>

namespace fis {

using namespace service;

namespace {

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

} // namespace

struct GuiaService::Invoice
{
    QString branch, entry, company, operation, nota, supplier, tax, code, registration;
    double tax_value = 0, fine = 0, other = 0;
    QDate due;
};

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

Variant GuiaService::emitGuides(rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &a, const CallInfo &info,
                                bool entries)
{
    QStringList branches, launches;
    QString error;
    if (!parseKeyList(a.stFilial, &branches, &error) ||
        !parseKeyList(a.stLancamento, &launches, &error))
        throw ServiceError(error);
    if (branches.size() != launches.size())
        throw ServiceError(QStringLiteral("As listas de filiais (%1) e de lançamentos (%2) "
                                          "não têm o mesmo número de chaves.")
                               .arg(branches.size())
                               .arg(launches.size()));

    Criteria listing = listingCriteria(a, entries ? QStringLiteral("E") : QStringLiteral("S"));

    QString operador = a.nomeOperador.trimmed();
    if (operador.isEmpty())
        operador = info.operador;
    const QString operation = entries ? QStringLiteral("E") : QStringLiteral("S");
    const bool payables = entries && a.idGerConPagGuia.trimmed() == QLatin1String("S");

    if (!payables) {
        {
            WriteTransaction tx(m_db, m_kind);
            const QList<Invoice> invoices =
                lockInvoices(branches, launches, a.cdEmpresa, operation);
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
                audit(operador, QStringLiteral("EMISSAO_GUIA"), a.stFilial + a.stLancamento,
                      QStringLiteral("%1 guia(s) de %2").arg(invoices.size()).arg(operation));
            tx.commit();
        }
        a.stFilial = QStringLiteral("_");
        a.stLancamento = QStringLiteral("_");
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
        e.invoices = lockInvoices(branches, launches, a.cdEmpresa, operation);
        if (e.invoices.isEmpty())
            throw ServiceError(QStringLiteral("Para gerar a guia pelo menos uma nota fiscal deve "
                                              "estar selecionada."));
        e.company = e.invoices.first().company;
        e.tax = a.cdImposto.trimmed().isEmpty() ? e.invoices.first().tax : a.cdImposto.trimmed();
        const QDate sentDue = a.dtVencimento.toDate();
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
        const double sentTotal = a.vrTotalGuia;
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
        const DataPacket &corrected = a.integracao;
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
        audit(operador, QStringLiteral("EMISSAO_GUIA"), a.stFilial + a.stLancamento,
              QStringLiteral("%1 guia(s) de entrada; %2")
                  .arg(e.invoices.size())
                  .arg(done.join(u"; ")));
        tx.commit();
        a.stFilial = QStringLiteral("_");
        a.stLancamento = QStringLiteral("_");
        a.vrTotalGuia = grandTotal;
        a.dtVencimento = TDateTime::fromDate(e.groups.first().due);
        return answer(resultPacket(QStringLiteral("OK"),
                                   QStringLiteral("Guia emitida: %1.").arg(done.join(u"; "))),
                      DataPacket());
    } catch (const ServiceError &err) {
        if (err.message() == QLatin1String("ERRO_CONTABILIZACAO"))
            return answer(resultPacket(QStringLiteral("MSG"), err.message()), integration);
        return answer(resultPacket(QStringLiteral("ERR"), err.message()), DataPacket());
    }
}

} // namespace fis
