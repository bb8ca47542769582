// The emission of guides ("SF", "EF"). The selected invoices are locked in key order and checked
// (each exists, is of the company and the way, has no guide yet) before anything is written;
// the unique key of GUIAPREV backs this up under races. Entries whose payable is grouped by
// supplier ("EF" with idGerConPagGuia "S") also get one payable per supplier, posted to its
// debit and credit accounts, in the same transaction; every failure of that path is a result
// row of the answer, not an error of the call.
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

// ---- lock ---------------------------------------------------------------------------------------

struct Invoice
{
    QString branch, entry, company, operation, nota, supplier, tax, code, registration;
    double tax_value = 0, fine = 0, other = 0;
    QDate due;
};

// Inserts the guide of one invoice; a guide that appeared meanwhile refuses the emission.
void insertGuide(Sql &insert, const Invoice &inv, const QVariantList &binds)
{
    if (!insert.tryExec(binds)) {
        if (isUniqueViolation(insert.lastError()))
            throw ServiceError(alreadyEmitted(inv.nota, inv.branch, inv.entry));
        insert.fail();
    }
}

// Reads and locks the selected invoices, refusing the first one that is missing, of another
// company (when one is given) or way, already emitted, or without a revenue code registered for
// its tax.
QList<Invoice> lockInvoices(QSqlDatabase &db, DbKind kind, const QStringList &branches,
                            const QStringList &entries, const QString &company,
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
    if (kind == DbKind::Postgres)
        select += QStringLiteral(" FOR UPDATE");
    Sql invoice(db, select);
    Sql guide(db, QStringLiteral("SELECT NRGUIA FROM GUIAPREV WHERE CDFILIAL = ? AND "
                                 "NRLANCTONF = ?"));
    Sql revenue(db, QStringLiteral("SELECT 1 FROM RECEPADRAO WHERE CDIMPOSTO = ? AND "
                                   "CDRECEPADRAO = ?"));
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
        // A guide is paid by its revenue code: none, or one the tax does not know, is refused.
        revenue.exec({inv.tax, inv.code.trimmed()});
        if (inv.code.trimmed().isEmpty() || !revenue.next())
            throw ServiceError(
                QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) não "
                               "tem código da receita cadastrado para o imposto "
                               "%4%5: a guia não pode ser emitida.")
                    .arg(inv.nota, branch, entry, inv.tax,
                         inv.code.trimmed().isEmpty()
                             ? QString()
                             : QStringLiteral(" (código %1)").arg(inv.code.trimmed())));
        out.append(inv);
    }
    return out;
}

// ---- the emission with payables -----------------------------------------------------------------

// The payee of the tax: the supplier the payables are made out to.
struct Payee
{
    QString code, payableType, finClass;
};

// The invoices of one supplier: one payable, posted to one debit and one credit account.
struct Group
{
    QString supplier;
    QList<int> invoices; // positions in Emission::invoices
    double total = 0;
    QDate due;
    QString code;
    QString debit, credit;
    qint64 payable = 0;
};

struct Emission
{
    QString company, tax, operador;
    QList<Invoice> invoices;
    QList<Group> groups;
    QMap<QString, int> groupOf; // supplier -> position in groups
    double total = 0;           // of every group
    Payee payee;
    QDateTime stamp;
};

// Accounts missing or unknown: the answer carries the integration packet for the user to correct.
struct AccountingError
{
    DataPacket integration;
};

// Group: one group per supplier, in the order the suppliers first appear. Every invoice must be
// of the first one's company and of the tax (the one sent, else the first invoice's), and have
// a revenue code; the invoices of one supplier share their revenue code and, unless a due date
// is sent (a date of the years 1900 to 9999), their due date. Totals come out rounded to cents.
void groupBySupplier(Emission &e, const QString &sentTax, const QDate &sentDue)
{
    if (e.invoices.isEmpty())
        throw ServiceError(QStringLiteral("Para gerar a guia pelo menos uma nota fiscal deve "
                                          "estar selecionada."));
    if (sentDue.isValid() && !dueDateAllowed(sentDue))
        throw ServiceError(QStringLiteral("Data de vencimento inválida: %1 (o ano deve estar "
                                          "entre 1900 e 9999).")
                               .arg(brDate(sentDue)));
    e.company = e.invoices.first().company;
    e.tax = sentTax.trimmed().isEmpty() ? e.invoices.first().tax : sentTax.trimmed();
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
        if (!e.groupOf.contains(inv.supplier)) {
            e.groupOf.insert(inv.supplier, int(e.groups.size()));
            Group g;
            g.supplier = inv.supplier;
            g.code = inv.code;
            g.due = sentDue.isValid() ? sentDue : inv.due;
            e.groups.append(g);
        }
        Group &g = e.groups[e.groupOf.value(inv.supplier)];
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
        e.total += inv.tax_value + inv.fine + inv.other;
    }
    e.total = roundCents(e.total);
    for (Group &g : e.groups)
        g.total = roundCents(g.total);
}

// Check: the total the screen showed (when sent) is still the invoices' total; every payable
// has a due date and reaches the minimum value.
void checkTotals(const Emission &e, double sentTotal)
{
    if (sentTotal != 0 && std::abs(roundCents(sentTotal) - e.total) > 0.005)
        throw ServiceError(QStringLiteral("O valor total enviado (R$ %1) não confere com o "
                                          "das notas fiscais selecionadas (R$ %2). Atualize "
                                          "a tela e selecione as notas novamente.")
                               .arg(money(sentTotal), money(e.total)));
    for (const Group &g : e.groups) {
        if (!g.due.isValid())
            throw ServiceError(QStringLiteral("Informe o vencimento das notas fiscais "
                                              "selecionadas."));
        if (g.total < kMinimumGuideValue)
            throw ServiceError(QStringLiteral("O valor total das notas fiscais selecionadas "
                                              "deve ser maior que dez reais(R$10,00): "
                                              "R$ %1.")
                                   .arg(money(g.total)));
    }
}

Payee payeeOf(QSqlDatabase &db, const QString &tax)
{
    Sql payee(db, QStringLiteral("SELECT CDFORNECED, CDTPCTPAGAR, CDCLASSFINA FROM "
                                 "BENEFIMPOSTO WHERE CDIMPOSTO = ? "
                                 "ORDER BY CDFORNECED, CDTPCTPAGAR"));
    payee.exec({tax});
    if (!payee.next())
        throw ServiceError(QStringLiteral("Os impostos relacionados devem possuir "
                                          "beneficiário e conta a pagar cadastrados."));
    return {payee.text(0), payee.text(1), payee.text(2)};
}

// The debit and credit accounts of each group: from the corrected integration packet when it
// comes back, else the tax's accounts of the company.
void assignAccounts(QSqlDatabase &db, Emission &e, const DataPacket &corrected)
{
    if (corrected.isNull()) {
        Sql accounts(db, QStringLiteral("SELECT CDCONTADEB, CDCONTACRED FROM CONTAIMPOSTO "
                                        "WHERE CDEMPRESA = ? AND CDIMPOSTO = ?"));
        accounts.exec({e.company, e.tax});
        if (accounts.next()) {
            for (Group &g : e.groups) {
                g.debit = accounts.text(0).trimmed();
                g.credit = accounts.text(1).trimmed();
            }
        }
        return;
    }
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
            const int gi = e.groupOf.value(row.at(sup).toString(), -1);
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
}

// Every account must be given and registered; otherwise AccountingError with one row per
// posting, the problem beside it.
void checkAccounts(QSqlDatabase &db, const Emission &e)
{
    Sql known(db, QStringLiteral("SELECT 1 FROM CONTACONTABIL WHERE CDCONTACONTABIL = ?"));
    const auto exists = [&](const QString &account) {
        if (account.isEmpty())
            return false;
        known.exec({account});
        return known.next();
    };
    bool accountsOk = true;
    PacketWriter iw(integrationFields());
    for (const Group &g : e.groups) {
        const QString history = QStringLiteral("GPS %1 - fornecedor %2")
                                    .arg(e.tax, e.invoices[g.invoices.first()].registration);
        for (const auto &[side, account] :
             {std::pair{QStringLiteral("D"), g.debit}, std::pair{QStringLiteral("C"), g.credit}}) {
            QString problem;
            if (account.isEmpty())
                problem = QStringLiteral("Conta contábil não informada.");
            else if (!exists(account))
                problem = QStringLiteral("Conta contábil %1 não cadastrada.").arg(account);
            accountsOk = accountsOk && problem.isEmpty();
            iw.addRow({e.company, e.tax, e.payee.code, g.supplier, side, account, g.total, history,
                       problem});
        }
    }
    if (!accountsOk)
        throw AccountingError{iw.finish()};
}

// Write payables: one payable per group and the guides of its invoices pointing at it. (The
// forecast payables they replace are removed by the caller, with their audit rows.)
void writePayables(QSqlDatabase &db, Emission &e)
{
    Sql payable(db, QStringLiteral("INSERT INTO CONTAPAGAR (CDEMPRESA, CDFORNECED, CDFORNNOTA,"
                                   " CDTPCTPAGAR, CDCLASSFINA, CDIMPOSTO, CDRECEGUIA,"
                                   " VRCONTAPAGAR, DTVENCIMENTO, DTINCLUSAO, NMOPERADOR)"
                                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                   " RETURNING NRCONTAPAGAR"));
    Sql guide(db, QStringLiteral("INSERT INTO GUIAPREV (CDFILIAL, NRLANCTONF, CDEMPRESA, "
                                 "DTEMISSAOGUIA, NMOPERADOR, NRCONTAPAGAR) "
                                 "VALUES (?, ?, ?, ?, ?, ?)"));
    for (Group &g : e.groups) {
        payable.exec({e.company, e.payee.code, g.supplier, e.payee.payableType, e.payee.finClass,
                      e.tax, g.code, g.total, sqlParam(g.due), e.stamp, e.operador.left(60)});
        if (!payable.next())
            payable.fail();
        g.payable = payable.value(0).toLongLong();
        payable.finish(); // a RETURNING statement left open would hold back the commit
        for (int i : g.invoices) {
            const Invoice &inv = e.invoices[i];
            insertGuide(
                guide, inv,
                {inv.branch, inv.entry, inv.company, e.stamp, e.operador.left(60), g.payable});
        }
    }
}

// Post: each payable debited and credited to its group's accounts.
void post(QSqlDatabase &db, const Emission &e)
{
    Sql posting(db, QStringLiteral("INSERT INTO LANCCONTABIL (NRCONTAPAGAR, CDCONTACONTABIL,"
                                   " IDDEBCRED, VRLANCAMENTO, DSHISTORICO, DTLANCAMENTO)"
                                   " VALUES (?, ?, ?, ?, ?, ?)"));
    for (const Group &g : e.groups) {
        const QString history =
            QStringLiteral("GPS %1 - conta a pagar %2").arg(e.tax).arg(g.payable);
        posting.exec(
            {g.payable, g.debit, QStringLiteral("D"), g.total, history, sqlParam(e.stamp.date())});
        posting.exec(
            {g.payable, g.credit, QStringLiteral("C"), g.total, history, sqlParam(e.stamp.date())});
    }
}

// The payables written, for the audit trail and the answer.
QString payablesText(const Emission &e)
{
    QStringList done;
    for (const Group &g : e.groups) {
        done << QStringLiteral("conta a pagar nº %1 de R$ %2 com vencimento em %3")
                    .arg(g.payable)
                    .arg(money(g.total), brDate(g.due));
    }
    return done.join(u"; ");
}

} // namespace

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

    const QString operation = entries ? QStringLiteral("E") : QStringLiteral("S");
    const Criteria listing = listingCriteria(a, operation);
    // The request's operator; the one the screen names in its arguments only when it sends none.
    const QString operador = info.who(a.nomeOperador.trimmed());
    if (entries && a.idGerConPagGuia.trimmed() == QLatin1String("S"))
        return emitWithPayables(a, operador, branches, launches, listing);

    {
        WriteTransaction tx(m_db, m_kind);
        const QList<Invoice> invoices =
            lockInvoices(m_db, m_kind, branches, launches, a.cdEmpresa, operation);
        Sql insert(m_db, QStringLiteral("INSERT INTO GUIAPREV (CDFILIAL, NRLANCTONF, CDEMPRESA, "
                                        "DTEMISSAOGUIA, NMOPERADOR) VALUES (?, ?, ?, ?, ?)"));
        for (const Invoice &inv : invoices)
            insertGuide(insert, inv,
                        {inv.branch, inv.entry, inv.company, now(), operador.left(60)});
        if (!invoices.isEmpty())
            audit(operador, QStringLiteral("EMISSAO_GUIA"), a.stFilial + a.stLancamento,
                  QStringLiteral("%1 guia(s) de %2").arg(invoices.size()).arg(operation));
        tx.commit();
    }
    a.stFilial = QStringLiteral("_");
    a.stLancamento = QStringLiteral("_");
    return makePacket(listInvoices(listing));
}

Variant GuiaService::emitWithPayables(rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &a,
                                      const QString &operador, const QStringList &branches,
                                      const QStringList &entries, const Criteria &listing)
{
    // Result rows, the integration packet (or null) and the entries view as it is now.
    const auto answer = [&](const DataPacket &result, const DataPacket &integration) {
        // Inside an array the listing travels as bytes: read here, on this connection.
        return Variant(QVariantList{makePacket(result), makePacket(integration),
                                    makePacket(DataPacket(listInvoices(listing).encoded()))});
    };
    try {
        WriteTransaction tx(m_db, m_kind);
        Emission e;
        e.operador = operador;
        e.invoices =
            lockInvoices(m_db, m_kind, branches, entries, a.cdEmpresa, QStringLiteral("E"));
        groupBySupplier(e, a.cdImposto, a.dtVencimento.toDate());
        checkTotals(e, a.vrTotalGuia);
        e.payee = payeeOf(m_db, e.tax);
        assignAccounts(m_db, e, a.integracao);
        checkAccounts(m_db, e);
        e.stamp = now();
        writePayables(m_db, e);
        QList<QPair<QString, QString>> keys;
        for (const Invoice &inv : e.invoices)
            keys.append({inv.branch, inv.entry});
        removeForecastPayables(keys, operador);
        post(m_db, e);
        const QString payables = payablesText(e);
        audit(operador, QStringLiteral("EMISSAO_GUIA"), a.stFilial + a.stLancamento,
              QStringLiteral("%1 guia(s) de entrada; %2").arg(e.invoices.size()).arg(payables));
        tx.commit();

        a.stFilial = QStringLiteral("_");
        a.stLancamento = QStringLiteral("_");
        a.vrTotalGuia = e.total;
        a.dtVencimento = TDateTime::fromDate(e.groups.first().due);
        return answer(
            resultPacket(QStringLiteral("OK"), QStringLiteral("Guia emitida: %1.").arg(payables)),
            DataPacket());
    } catch (const AccountingError &err) {
        return answer(resultPacket(QStringLiteral("MSG"), QStringLiteral("ERRO_CONTABILIZACAO")),
                      err.integration);
    } catch (const ServiceError &err) {
        return answer(resultPacket(QStringLiteral("ERR"), err.message()), DataPacket());
    }
}

} // namespace fis
