#include "demodata.h"

#include "calendar.h"
#include "database.h"
#include "identifiers.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cmath>
#include <random>
#include <stdexcept>

namespace fis {

namespace {

class Insert
{
public:
    Insert(QSqlDatabase &db, const QString &sql) : m_q(db)
    {
        if (!m_q.prepare(sql))
            throw std::runtime_error(m_q.lastError().text().toStdString());
    }
    void operator()(const QVariantList &values)
    {
        for (int i = 0; i < values.size(); ++i)
            m_q.bindValue(i, values.at(i));
        if (!m_q.exec())
            throw std::runtime_error(m_q.lastError().text().toStdString());
    }

private:
    QSqlQuery m_q;
};

const char *const kActivities[] = {
    "Construtora",        "Transportes", "Serviços de Limpeza", "Vigilância",    "Engenharia",
    "Manutenção Predial", "Informática", "Consultoria",         "Terraplenagem", "Alimentação"};
const char *const kSurnames[] = {"Silva",   "Souza",  "Oliveira",  "Santos",   "Pereira",
                                 "Almeida", "Costa",  "Ribeiro",   "Carvalho", "Gomes",
                                 "Lima",    "Araújo", "Fernandes", "Rocha",    "Barbosa"};
const char *const kSuffixes[] = {"Ltda", "S.A.", "ME", "EIRELI"};
const char *const kCities[] = {"Campinas", "Curitiba", "Recife", "Goiânia", "Belém"};
const char *const kStates[] = {"SP", "PR", "PE", "GO", "PA"};
const char *const kAreaCodes[] = {"19", "41", "81", "62", "91"};
const char *const kStreets[] = {
    "Rua das Acácias",        "Avenida Brasil", "Rua XV de Novembro", "Rua Sete de Setembro",
    "Avenida Getúlio Vargas", "Rua Tiradentes", "Rua Dom Pedro II",   "Avenida Independência"};

// Addresses come from a generator of their own, so that the rest of the data stays what it was
// before addresses were added.
class Addresses
{
public:
    explicit Addresses(quint32 seed) : m_rng(seed) {}
    // Street and number, city, state, postal code and phone of a place in city `city` (an index
    // of kCities), as the columns DSENDERECO, NMCIDADE, SGESTADO, NRCEP, NRTELEFONE.
    QVariantList in(int city)
    {
        const auto number = [this](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(m_rng);
        };
        return {QStringLiteral("%1, %2")
                    .arg(QString::fromUtf8(kStreets[number(0, 7)]))
                    .arg(number(10, 2999)),
                QString::fromUtf8(kCities[city]), QString::fromLatin1(kStates[city]),
                QString::number(number(10000000, 99999999)),
                QStringLiteral("(%1) 3%2-%3")
                    .arg(QString::fromLatin1(kAreaCodes[city]))
                    .arg(number(100, 999))
                    .arg(number(1000, 9999))};
    }
    int anyCity() { return std::uniform_int_distribution<int>(0, 4)(m_rng); }

private:
    std::mt19937 m_rng;
};

QVariant date(const QDate &d)
{
    return d.isValid() ? QVariant(d) : QVariant(QMetaType::fromType<QDate>());
}

} // namespace

InvoiceWriter::InvoiceWriter(QSqlDatabase &db) : m_query(db)
{
    if (!m_query.prepare(QStringLiteral(
            "INSERT INTO NOTAFISCAL (CDFILIAL, NRLANCTONF, CDEMPRESA, IDENTRSAIDOP, CDFILIRECE,"
            " CDFILIEMIT, DTEMISSAO, DTENTRSAID, CDCLIENTE, CDFORNECED, NRINSJURNF, NRNOTAFISC,"
            " CDSERIE, CDINSCESTA, CDINSCMUNI, VRNOTAFISC, CDIMPOSTO, VRTOTIMPONF, DTVENCGUIA,"
            " CDRECEGUIA) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        throw std::runtime_error(m_query.lastError().text().toStdString());
}

void InvoiceWriter::insert(const NewInvoice &n)
{
    const auto text = [](const QString &s) {
        return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
    };
    const QDate due = n.due.isValid() ? n.due : defaultDueDate(n.emission);
    const QVariantList values{n.branch,
                              n.entry,
                              n.company,
                              n.operation,
                              n.branch,
                              n.branch,
                              date(n.emission),
                              date(n.entryDate),
                              text(n.customer),
                              text(n.supplier),
                              n.registration,
                              n.nota,
                              text(n.serie),
                              text(n.inscEsta),
                              text(n.inscMuni),
                              n.value,
                              n.tax,
                              n.withheld,
                              date(due),
                              text(n.code)};
    for (int i = 0; i < values.size(); ++i)
        m_query.bindValue(i, values.at(i));
    if (!m_query.exec())
        throw std::runtime_error(m_query.lastError().text().toStdString());
}

bool generateDemoData(QSqlDatabase &db, DbKind kind, const DemoOptions &o, QString *error)
{
    {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")) && q.next() &&
            q.value(0).toLongLong() > 0)
            return true;
    }
    std::mt19937 rng(o.seed);
    const auto pick = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    const auto cnpj = [&](int establishment) {
        const QString root =
            QString::number(std::uniform_int_distribution<int>(10000000, 99999999)(rng));
        return cnpjWithCheckDigits(root + QString::number(establishment).rightJustified(4, u'0'));
    };
    const auto companyName = [&]() {
        return QStringLiteral("%1 %2 %3")
            .arg(QString::fromUtf8(kActivities[pick(10)]), QString::fromUtf8(kSurnames[pick(15)]),
                 QString::fromLatin1(kSuffixes[pick(4)]));
    };

    if (!beginWrite(db, kind)) {
        *error = db.lastError().text();
        return false;
    }
    try {
        const QString address = QStringLiteral("DSENDERECO, NMCIDADE, SGESTADO, NRCEP, NRTELEFONE");
        Addresses addresses(o.seed + 1);
        Insert empresa(db, QStringLiteral("INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR, "
                                          "VRPEMULEMPR, VRPEMOREMPR, CDCENTCUST, NRINSJUREMPR, "
                                          "%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                               .arg(address));
        Insert filial(db, QStringLiteral("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, "
                                         "NRINSJURFILI, %1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                              .arg(address));
        Insert paramFilial(db, QStringLiteral("INSERT INTO PARAMFILIAL (CDFILIAL, NRTAMNUMNFUT) "
                                              "VALUES (?, ?)"));
        Insert inscEst(db,
                       QStringLiteral("INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, SGESTADO) "
                                      "VALUES (?, ?, ?)"));
        Insert inscMun(db, QStringLiteral("INSERT INTO INSCRMUNICIP (CDEMPRESA, CDINSCMUNI) "
                                          "VALUES (?, ?)"));
        Insert serieNf(db, QStringLiteral("INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDINSCMUNI, "
                                          "CDSERIE, DSSERIE) VALUES (?, ?, ?, ?, ?)"));
        Insert serieEntr(db, QStringLiteral("INSERT INTO SERIEENTR (CDSERIEENTR, DSSERIEENTR) "
                                            "VALUES (?, ?)"));
        Insert fornecedor(db, QStringLiteral("INSERT INTO FORNECEDOR (CDFORNECED, NMRAZSOCFORN, "
                                             "NRINSJURFORN, IDTPIJURFORN, NMFANTFORN, %1) "
                                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                                  .arg(address));
        Insert cliente(db, QStringLiteral("INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE, "
                                          "NRINSJURCLIE, IDTPIJURCLIE) VALUES (?, ?, ?, ?)"));
        Insert imposto(db, QStringLiteral("INSERT INTO IMPOSTONFE (CDIMPOSTONFE, SGIMPOSTONFE, "
                                          "IDORGARRECADNFE) VALUES (?, ?, ?)"));
        Insert receita(db, QStringLiteral("INSERT INTO RECEPADRAO (CDIMPOSTO, CDRECEPADRAO, "
                                          "CDVARIACAO, DSRECEPADRAO) VALUES (?, ?, ?, ?)"));
        Insert benef(db, QStringLiteral("INSERT INTO BENEFIMPOSTO (CDIMPOSTO, CDFORNECED, "
                                        "CDTPCTPAGAR, CDCLASSFINA) VALUES (?, ?, ?, ?)"));
        Insert conta(db, QStringLiteral("INSERT INTO CONTACONTABIL (CDCONTACONTABIL, "
                                        "DSCONTACONTABIL) VALUES (?, ?)"));
        Insert contaImp(db, QStringLiteral("INSERT INTO CONTAIMPOSTO (CDEMPRESA, CDIMPOSTO, "
                                           "CDCONTADEB, CDCONTACRED) VALUES (?, ?, ?, ?)"));
        InvoiceWriter nota(db);
        Insert prevista(db, QStringLiteral("INSERT INTO CONTAPREVISTA (CDFILIAL, NRLANCTONF, "
                                           "VRCONTAPREV, DTVENCIMENTO) VALUES (?, ?, ?, ?)"));
        Insert mapa(db, QStringLiteral("INSERT INTO MAPAAPUR (NRSEQUMAPAPU, CDEMPRESA, CDIMPOSTO, "
                                       "CDINSCESTA, NMMAPAAPUR, DTINIPERIODO, DTFIMPERIODO, "
                                       "VRTTCTBLCRE, IDSTATUS, DTVENCGUIA) "
                                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));

        // Taxes, revenue codes, payees, accounts.
        imposto({QStringLiteral("01"), QStringLiteral("INSS"), QStringLiteral("E")});
        imposto({QStringLiteral("02"), QStringLiteral("ISS"), QStringLiteral("M")});
        imposto({QStringLiteral("03"), QStringLiteral("FUNRURAL"), QStringLiteral("E")});
        imposto({QStringLiteral("04"), QStringLiteral("IRRF"), QStringLiteral("F")});
        receita({QStringLiteral("01"), QStringLiteral("2631"), QStringLiteral("00"),
                 QStringLiteral("Retenção - Cessão de mão de obra e empreitada - CNPJ")});
        receita({QStringLiteral("01"), QStringLiteral("2658"), QStringLiteral("00"),
                 QStringLiteral("Retenção - Cessão de mão de obra e empreitada - CEI")});
        receita({QStringLiteral("03"), QStringLiteral("2607"), QStringLiteral("00"),
                 QStringLiteral("Comercialização da produção rural - CNPJ")});
        receita({QStringLiteral("03"), QStringLiteral("2704"), QStringLiteral("00"),
                 QStringLiteral("Comercialização da produção rural - CEI")});
        receita({QStringLiteral("03"), QStringLiteral("2615"), QStringLiteral("00"),
                 QStringLiteral("SENAR - Comercialização da produção rural - CNPJ")});
        const QString inss = QStringLiteral("000000000000000000001");
        fornecedor(QVariantList{inss, QStringLiteral("Instituto Nacional do Seguro Social"),
                                cnpjWithCheckDigits(QStringLiteral("295297060001")),
                                QStringLiteral("J"), QStringLiteral("INSS")} +
                   addresses.in(0));
        benef({QStringLiteral("01"), inss, QStringLiteral("GPS"), QStringLiteral("2.1.01")});
        benef({QStringLiteral("03"), inss, QStringLiteral("GPS"), QStringLiteral("2.1.02")});
        conta({QStringLiteral("3.1.2.01"), QStringLiteral("INSS retido a recolher")});
        conta({QStringLiteral("2.1.1.05"), QStringLiteral("Fornecedores - tributos")});
        conta({QStringLiteral("2.1.1.09"), QStringLiteral("FunRural a recolher")});

        // Companies (the last one without accounting accounts for its taxes, on purpose).
        const int companies = 3;
        QStringList branchesOf[companies];
        QHash<QString, int> numberSize; // invoice-number size of each branch
        QStringList estOf[companies], munOf[companies];
        int branchNo = 0;
        for (int c = 0; c < companies; ++c) {
            const QString cd = QString::number(c + 1).rightJustified(2, u'0');
            empresa(QVariantList{cd, companyName(), 2.0, 1.0, QStringLiteral("%1").arg(100 + c),
                                 cnpj(1)} +
                    addresses.in(c % 5));
            if (c < companies - 1) {
                contaImp({cd, QStringLiteral("01"), QStringLiteral("3.1.2.01"),
                          QStringLiteral("2.1.1.05")});
                contaImp({cd, QStringLiteral("03"), QStringLiteral("2.1.1.09"),
                          QStringLiteral("2.1.1.05")});
            }
            for (int b = 0; b < 2 + c % 2; ++b) {
                const QString fb = QString::number(++branchNo).rightJustified(4, u'0');
                filial(QVariantList{fb,
                                    QStringLiteral("Filial %1 - %2")
                                        .arg(fb, QString::fromUtf8(kCities[(c + b) % 5])),
                                    cd, cnpj(b + 1)} +
                       addresses.in((c + b) % 5));
                numberSize[fb] = b % 2 == 0 ? 6 : 9;
                paramFilial({fb, numberSize[fb]});
                branchesOf[c] << fb;
            }
            for (int r = 0; r < 2; ++r) {
                const QString ie =
                    QString::number(std::uniform_int_distribution<int>(100000000, 999999999)(rng));
                inscEst({cd, ie, QString::fromLatin1(kStates[(c + r) % 5])});
                estOf[c] << ie;
                const QString im =
                    QString::number(std::uniform_int_distribution<int>(1000000, 9999999)(rng));
                inscMun({cd, im});
                munOf[c] << im;
                serieNf(
                    {cd, ie, im, QString::number(r + 1), QStringLiteral("Série %1").arg(r + 1)});
            }
        }
        serieEntr({QStringLiteral("1"), QStringLiteral("Série única")});
        serieEntr({QStringLiteral("E"), QStringLiteral("Entrada eletrônica")});

        // Suppliers and customers.
        const int suppliers = 40, customers = 30;
        QStringList supplierCode, supplierCnpj, customerCode, customerCnpj;
        for (int s = 0; s < suppliers; ++s) {
            const QString code = QString::number(1000 + s).rightJustified(21, u'0');
            const QString name = companyName().left(40);
            const QString reg = cnpj(1);
            fornecedor(QVariantList{code, name, reg, QStringLiteral("J"),
                                    name.section(u' ', 0, 1).left(40)} +
                       addresses.in(addresses.anyCity()));
            supplierCode << code;
            supplierCnpj << reg;
        }
        for (int s = 0; s < customers; ++s) {
            const QString code = QString::number(5000 + s).rightJustified(21, u'0');
            const QString reg = cnpj(1);
            cliente({code, companyName().left(50), reg, QStringLiteral("J")});
            customerCode << code;
            customerCnpj << reg;
        }

        // Invoices with 11% retention over the last months.
        const QDate firstMonth =
            QDate(o.today.year(), o.today.month(), 1).addMonths(-(o.months - 1));
        const int span = int(firstMonth.daysTo(o.today)) + 1;
        QHash<QString, int> notaNo;
        for (int i = 0; i < o.invoices; ++i) {
            const int c = i % companies;
            const QString cd = QString::number(c + 1).rightJustified(2, u'0');
            const QString fb = branchesOf[c].at(pick(int(branchesOf[c].size())));
            const bool entry = pick(10) < 6;
            // Invoices arrive in date order, as they are booked.
            const QDate emission = firstMonth.addDays(int(qint64(i) * span / o.invoices));
            const int r = pick(2);
            const double value =
                std::round(std::uniform_real_distribution<double>(150.0, 60000.0)(rng) * 100) / 100;
            const double withheld = std::round(value * 11.0) / 100.0;
            const int sup = pick(suppliers), cli = pick(customers);
            // Invoice numbers are kept at the size the branch gives them, as the filter types them.
            const QString nf = QString::number(++notaNo[fb]).rightJustified(numberSize[fb], u'0');
            const QString entryNo = QString::number(i + 1);
            NewInvoice inv;
            inv.branch = fb;
            inv.entry = entryNo;
            inv.company = cd;
            inv.operation = entry ? QStringLiteral("E") : QStringLiteral("S");
            inv.nota = nf;
            inv.serie = entry ? QStringLiteral("1") : QString::number(r + 1);
            if (entry)
                inv.supplier = supplierCode[sup];
            else
                inv.customer = customerCode[cli];
            inv.registration = entry ? supplierCnpj[sup] : customerCnpj[cli];
            inv.inscEsta = estOf[c][r];
            inv.inscMuni = munOf[c][r];
            inv.tax = QStringLiteral("01");
            inv.code = QStringLiteral("2631");
            inv.emission = emission;
            inv.entryDate = entry ? emission.addDays(pick(5)) : emission;
            inv.value = value;
            inv.withheld = withheld;
            nota.insert(inv);
            if (entry && i % 5 == 0)
                prevista({fb, entryNo, withheld, date(defaultDueDate(emission))});
        }

        // Rural contribution maps, one per company, registration and month.
        qint64 seq = 0;
        for (int c = 0; c < companies; ++c) {
            const QString cd = QString::number(c + 1).rightJustified(2, u'0');
            for (const QString &ie : estOf[c]) {
                for (int m = 0; m < o.months; ++m) {
                    const QDate start = firstMonth.addMonths(m);
                    mapa({++seq, cd, QStringLiteral("03"), ie,
                          QStringLiteral("FunRural %1").arg(start.toString(u"MM/yyyy")),
                          date(start), date(start.addMonths(1).addDays(-1)),
                          std::round(std::uniform_real_distribution<double>(200.0, 20000.0)(rng) *
                                     100) /
                              100,
                          m < o.months - 2 ? QStringLiteral("S") : QStringLiteral("N"),
                          date(defaultDueDate(start))});
                }
            }
        }
    } catch (const std::exception &e) {
        rollback(db);
        *error = QString::fromUtf8(e.what());
        return false;
    }
    if (!commit(db)) {
        *error = db.lastError().text();
        rollback(db);
        return false;
    }
    return true;
}

} // namespace fis
