#include "clerk.h"

#include "data/packet.h"
#include "net/netconnection.h"
#include "services/rdmEmisGuiaPrv.h"

#include <QDate>
#include <QRegularExpression>

#include <random>
#include <thread>

namespace fis::bench {

namespace {

using namespace fis::rdmEmisGuiaPrv;

// A pending invoice as the listing showed it.
struct Row
{
    QString branch, entry, supplier, code;
    QDate due;
    double fine = 0, other = 0;
};

QString brDate(const QDate &d)
{
    return d.isValid() ? d.toString(u"dd/MM/yyyy") : QString();
}

// "transporte: …" for a call whose answer never came, "recusa: …" for an emission the server
// refused for a business reason, "servidor: …" for any other error the server answered.
QString errorKind(const QString &error)
{
    static const QString transport =
        QStringLiteral("Falha de comunicação com o servidor de aplicação ");
    if (error.startsWith(transport)) {
        const qsizetype colon = error.indexOf(QLatin1String(": "), transport.size());
        QString what = colon < 0 ? error : error.mid(colon + 2);
        if (what.endsWith(u'.'))
            what.chop(1);
        return QStringLiteral("transporte: ") + what;
    }
    if (error.contains(u"já foi emitida"))
        return QStringLiteral("recusa: nota já emitida");
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    return QStringLiteral("servidor: ") +
           error.simplified().left(70).replace(digits, QStringLiteral("#"));
}

class Clerk
{
public:
    Clerk(int number, const ClerkOptions &options)
        : m_options(options), m_rng(std::mt19937(quint32(number) * 7919u + 17u)),
          m_name(QStringLiteral("caixa%1").arg(number, 2, 10, QLatin1Char('0')))
    {
        m_net.setHost(options.host);
        m_net.setPort(options.port);
        m_net.setServerName(QStringLiteral("Fis02900.rdmEmisGuiaPrv"));
        m_net.setTimeout(options.timeoutMs);
        m_net.setAuthToken(options.token);
        m_net.setOperatorName(m_name);
    }

    void run(Clock::time_point deadline, const std::atomic<bool> &stop)
    {
        while (!stop && Clock::now() < deadline) {
            const int dice = pick(100);
            if (dice < 35 || (m_entries.empty() && m_exits.empty()))
                list(pick(2) == 0 ? QStringLiteral("E") : QStringLiteral("S"));
            else if (dice < 70)
                tick();
            else if (dice < 85)
                emitExits();
            else
                emitEntries();
        }
    }

    ClerkResult result;

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    // Times one call; true when it succeeded.
    template <class Call>
    bool timed(const QString &method, Call call)
    {
        const auto start = Clock::now();
        call();
        const auto end = Clock::now();
        result.millis[method].push_back(
            std::chrono::duration<double, std::milli>(end - start).count());
        if (!m_net.lastCallFailed())
            return true;
        failed(method, m_net.lastError(), start, end);
        // A clerk who gets an error reads it before trying again.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return false;
    }
    void failed(const QString &method, const QString &error, Clock::time_point started,
                Clock::time_point at)
    {
        const QString kind = errorKind(error);
        if (kind.startsWith(QLatin1String("recusa")))
            ++result.refusals;
        else
            result.failures.push_back({started, at, method + QStringLiteral(": ") + kind});
        ++result.errors[method + QStringLiteral(": ") + kind];
    }

    GetEmisGuiaPrevArgs listingArgs(const QString &op)
    {
        const QDate today = QDate::currentDate();
        const QDate month =
            QDate(today.year(), today.month(), 1).addMonths(-pick(m_options.months));
        GetEmisGuiaPrevArgs a;
        a.stOperacao = op;
        a.cdEmpresa = m_options.companies.at(pick(int(m_options.companies.size())));
        a.cdImposto = QStringLiteral("01");
        a.stStatus = QStringLiteral("P");
        a.dtEmiIni = TDateTime::fromDate(month);
        a.dtEmiFin = TDateTime::fromDate(month.addMonths(1).addDays(-1));
        a.dtProcessamento = TDateTime::fromDate(today);
        a.idGerConPagGuia = QStringLiteral("S");
        a.filiProc = QStringLiteral("0001");
        a.nomeOperador = m_name;
        return a;
    }

    void list(const QString &op)
    {
        GetEmisGuiaPrevArgs a = listingArgs(op);
        Variant answer;
        if (!timed(QStringLiteral("GetEmisGuiaPrev ") + op,
                   [&] { answer = GetEmisGuiaPrev(m_net, a); }))
            return;
        std::vector<Row> &rows = op == QLatin1String("E") ? m_entries : m_exits;
        rows.clear();
        (op == QLatin1String("E") ? m_entriesListed : m_exitsListed) = a;
        try {
            const PacketReader r(answer.value<DataPacket>());
            const int b = r.fieldIndex(QStringLiteral("CDFILIAL")),
                      e = r.fieldIndex(QStringLiteral("NRLANCTONF")),
                      s = r.fieldIndex(QStringLiteral("NRINSJURNF")),
                      c = r.fieldIndex(QStringLiteral("CDRECEGUIA")),
                      d = r.fieldIndex(QStringLiteral("VENCIMENTO")),
                      f = r.fieldIndex(QStringLiteral("VRMULTAGUIA")),
                      o = r.fieldIndex(QStringLiteral("VROUTRENTGUIA"));
            for (const QVariantList &v : r.rows()) {
                rows.push_back({v.at(b).toString(), v.at(e).toString(), v.at(s).toString(),
                                v.at(c).toString(), v.at(d).value<TDateTime>().toDate(),
                                v.at(f).toDouble(), v.at(o).toDouble()});
            }
        } catch (const PacketError &pe) {
            failed(QStringLiteral("GetEmisGuiaPrev ") + op,
                   QStringLiteral("pacote ilegível: ") + pe.message(), Clock::now(), Clock::now());
        }
    }

    // Ticks a pending row: the screen posts it with its due date, code and values; now and
    // then the clerk changes the other entities' value first.
    void tick()
    {
        std::vector<Row> &rows =
            m_entries.empty() || (!m_exits.empty() && pick(2) == 0) ? m_exits : m_entries;
        Row &row = rows[size_t(pick(int(rows.size())))];
        const double other = pick(4) == 0 ? row.other + 0.5 : row.other;
        if (timed(QStringLiteral("SetDtVenc"), [&] {
                SetDtVenc(m_net, row.branch, row.entry, brDate(row.due), row.code, other, row.fine);
            }))
            row.other = other;
    }

    // Takes up to `n` rows out of `rows`, starting at a random one, those of `keep` only.
    template <class Keep>
    std::vector<Row> take(std::vector<Row> &rows, int n, Keep keep)
    {
        std::vector<Row> out, left;
        const size_t start = size_t(pick(int(rows.size())));
        for (size_t i = 0; i < rows.size(); ++i) {
            Row &r = rows[(start + i) % rows.size()];
            if (int(out.size()) < n && keep(r))
                out.push_back(r);
            else
                left.push_back(r);
        }
        rows.swap(left);
        return out;
    }

    static void keyLists(const std::vector<Row> &rows, QString *branches, QString *entries)
    {
        *branches = QStringLiteral("_");
        *entries = QStringLiteral("_");
        for (const Row &r : rows) {
            *branches += r.branch + u'_';
            *entries += r.entry + u'_';
        }
    }
    void told(const std::vector<Row> &rows)
    {
        for (const Row &r : rows)
            result.emitted.append({r.branch, r.entry});
    }

    void emitExits()
    {
        if (m_exits.empty())
            return list(QStringLiteral("S"));
        const std::vector<Row> chosen =
            take(m_exits, 1 + pick(3), [](const Row &) { return true; });
        // The emission answers the listing again: the one the rows came from.
        GetEmisGuiaPrevArgs a = m_exitsListed;
        a.stOperacao = QStringLiteral("SF");
        keyLists(chosen, &a.stFilial, &a.stLancamento);
        if (timed(QStringLiteral("GetEmisGuiaPrev SF"), [&] { GetEmisGuiaPrev(m_net, a); }) &&
            a.stFilial == QLatin1String("_"))
            told(chosen);
    }

    // One supplier's pending entries: the screen checks the forecast payables, then emits
    // them with their payable.
    void emitEntries()
    {
        if (m_entries.empty())
            return list(QStringLiteral("E"));
        const QString supplier = m_entries[size_t(pick(int(m_entries.size())))].supplier;
        const std::vector<Row> chosen =
            take(m_entries, 1 + pick(4), [&](const Row &r) { return r.supplier == supplier; });
        PacketWriter selection;
        selection.addField(QStringLiteral("CDFILIAL"), FieldType::String, 4);
        selection.addField(QStringLiteral("NRLANCTONF"), FieldType::String, 10);
        for (const Row &r : chosen)
            selection.addRow({r.branch, r.entry});
        const DataPacket forneAux = selection.finish();
        if (!timed(QStringLiteral("GetVdContaPagar"), [&] { GetVdContaPagar(m_net, forneAux); }))
            return;

        GetEmisGuiaPrevArgs a = m_entriesListed;
        a.stOperacao = QStringLiteral("EF");
        keyLists(chosen, &a.stFilial, &a.stLancamento);
        a.forneAux = forneAux;
        a.dtVencimento = TDateTime::fromDate(QDate::currentDate().addDays(30));
        Variant answer;
        if (!timed(QStringLiteral("GetEmisGuiaPrev EF"),
                   [&] { answer = GetEmisGuiaPrev(m_net, a); }))
            return;
        const QVariantList parts = answer.toList();
        QString code, text;
        try {
            const PacketReader r(parts.value(0).value<DataPacket>());
            if (r.rowCount() > 0) {
                code = r.row(0).at(0).toString();
                text = r.row(0).at(1).toString();
            }
        } catch (const PacketError &pe) {
            text = pe.message();
        }
        if (code == QLatin1String("OK"))
            told(chosen);
        else
            failed(QStringLiteral("GetEmisGuiaPrev EF"),
                   code == QLatin1String("ERR") ? text : code + u' ' + text, Clock::now(),
                   Clock::now());
    }

    const ClerkOptions &m_options;
    std::mt19937 m_rng;
    QString m_name;
    TNetConnection m_net;
    std::vector<Row> m_entries, m_exits;
    GetEmisGuiaPrevArgs m_entriesListed, m_exitsListed; // the criteria the rows came from
};

} // namespace

ClerkResult runClerk(int number, const ClerkOptions &options, Clock::time_point deadline,
                     const std::atomic<bool> &stop)
{
    Clerk clerk(number, options);
    clerk.run(deadline, stop);
    return std::move(clerk.result);
}

} // namespace fis::bench
