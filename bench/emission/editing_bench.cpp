// Select all in the entries view over the rows of one supplier, against the real application
// server, every row written back; beside it the same number of bare round trips (a cpp-httplib
// echo of a body of the write-back's size, keep-alive, TCP_NODELAY) measured in the same run.
// Prints its figures; run by hand:
//
//   editing_bench [--rows N] [--server EXE]      (default 10,000 rows)
//
// Two passes: the rows as loaded (the server finds nothing to change), and the rows changed on
// the server underneath, so that each write-back updates its invoice and writes an audit row;
// the second pass is checked against the database: every row must have been written.
#include "data/packet.h"
#include "database.h"
#include "demodata.h"
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "net/rpcwire.h"
#include "testkit/recordinghostui.h"

#include <httplib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

using namespace fis;

namespace {

const QString kSupplierRegistration = QStringLiteral("37797255000137");
const QDate kDay(2024, 6, 10); // the bench's invoices, away from the demo data's months

[[noreturn]] void die(const QString &why)
{
    std::fprintf(stderr, "editing_bench: %s\n", qPrintable(why));
    std::exit(1);
}

// The demo database plus `rows` entry invoices of one supplier on one day, one due date and one
// revenue code: all of them match the first row of a select-all.
void makeDatabase(const QString &path, int rows)
{
    DbConfig config;
    QString error;
    if (!DbConfig::parse(path, &config, &error))
        die(error);
    {
        QSqlDatabase db = openConnection(config, QStringLiteral("bench"), &error);
        if (!db.isOpen())
            die(error);
        DemoOptions demo;
        demo.invoices = 600;
        demo.today = QDate(2026, 3, 20);
        if (!applySchema(db, config.kind, &error) ||
            !generateDemoData(db, config.kind, demo, &error))
            die(error);
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT CDFORNECED FROM FORNECEDOR WHERE NRINSJURFORN = '%1'")
                   .arg(kSupplierRegistration));
        if (!q.next())
            die(QStringLiteral("the demo supplier %1 is missing").arg(kSupplierRegistration));
        const QString supplier = q.value(0).toString();
        db.transaction();
        InvoiceWriter writer(db);
        for (int i = 0; i < rows; ++i) {
            NewInvoice n;
            n.branch = QStringLiteral("0001");
            n.entry = QStringLiteral("B%1").arg(i, 7, 10, QLatin1Char('0'));
            n.company = QStringLiteral("01");
            n.operation = QStringLiteral("E");
            n.nota = QString::number(900000 + i);
            n.supplier = supplier;
            n.registration = kSupplierRegistration;
            n.tax = QStringLiteral("01");
            n.code = QStringLiteral("2631");
            n.emission = kDay;
            n.entryDate = kDay;
            n.due = QDate(2024, 7, 19);
            n.value = 1000;
            n.withheld = 110;
            writer.insert(n);
        }
        db.commit();
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
}

int startServer(QProcess &server, const QString &exe, const QString &path)
{
    server.setProgram(exe);
    server.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                         QStringLiteral("--database"), path, QStringLiteral("--threads"),
                         QStringLiteral("4")});
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start();
    static const QRegularExpression re(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray out;
    while (server.state() != QProcess::NotRunning) {
        server.waitForReadyRead(1000);
        out += server.readAllStandardOutput();
        const auto m = re.match(QString::fromUtf8(out));
        if (m.hasMatch())
            return m.captured(1).toInt();
    }
    die(QStringLiteral("the application server did not start"));
}

// Microseconds of `calls` bare round trips of a body the size of one write-back.
double bareRoundTrips(int calls)
{
    const RpcRequest sample{QStringLiteral("SetDtVenc"),
                            {makeText(QStringLiteral("0001")), makeText(QStringLiteral("B0000001")),
                             makeText(QStringLiteral("19/07/2024")),
                             makeText(QStringLiteral("2631")), makeFloat(0.0), makeFloat(12.5)},
                            {}};
    const std::string body = encodeRequest(sample).toStdString();
    httplib::Server bare;
    bare.set_tcp_nodelay(true);
    bare.set_keep_alive_max_count(std::numeric_limits<int>::max());
    bare.Post("/echo", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(req.body, "application/cbor");
    });
    const int port = bare.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { bare.listen_after_bind(); });
    while (!bare.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    const auto run = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const auto res = client.Post("/echo", body, "application/cbor");
            if (!res || res->status != 200)
                die(QStringLiteral("the bare echo failed"));
        }
    };
    run(200);
    QElapsedTimer t;
    t.start();
    run(calls);
    const double us = double(t.nsecsElapsed()) / 1000.0;
    bare.stop();
    thread.join();
    return us;
}

// Microseconds of `calls` write-backs of the first row through the screen's connection alone
// (the server finds nothing to change): the share of the round trips in a select all.
double writeBacksAlone(TfrmEmiPrevSocial &screen, int calls)
{
    ClientDataSet *set = screen.cdsAprovAgrup;
    set->first();
    const auto text = [set](const char *field) {
        return set->fieldByName(QString::fromLatin1(field))->text();
    };
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < calls; ++i) {
        const Variant answer = rdmEmisGuiaPrv::SetDtVenc(
            *screen.netEmisGuiaPrev, text("CDFILIAL"), text("NRLANCTONF"), text("VENCIMENTO"),
            text("CDRECEGUIA"), set->fieldByName(QStringLiteral("VROUTRENTGUIA"))->asFloat(),
            set->fieldByName(QStringLiteral("VRMULTAGUIA"))->asFloat());
        if (!Consiste::resultError(answer).isEmpty())
            die(Consiste::resultError(answer));
    }
    return double(t.nsecsElapsed()) / 1000.0;
}

// Microseconds of `calls` of the lightest read (the fiscal parameters), for comparison.
double lightCallsAlone(TfrmEmiPrevSocial &screen, int calls)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < calls; ++i)
        rdmEmisGuiaPrv::GetParamFiscal(*screen.netEmisGuiaPrev);
    return double(t.nsecsElapsed()) / 1000.0;
}

void loadSupplier(TfrmEmiPrevSocial &screen)
{
    rdmEmisGuiaPrv::GetEmisGuiaPrevArgs args;
    args.stOperacao = QStringLiteral("E");
    args.cdEmpresa = QStringLiteral("01");
    args.cdImposto = QStringLiteral("01");
    args.inscForne = kSupplierRegistration;
    args.stStatus = QStringLiteral("T");
    args.dtEmiIni = TDateTime::fromDate(kDay);
    args.dtEmiFin = TDateTime::fromDate(kDay);
    args.dtProcessamento = TDateTime::fromDate(QDate(2026, 3, 15));
    args.idGerConPagGuia = QStringLiteral("S");
    args.filiProc = QStringLiteral("0001");
    args.nomeOperador = QStringLiteral("BENCH");
    const Variant answer = rdmEmisGuiaPrv::GetEmisGuiaPrev(*screen.netEmisGuiaPrev, args);
    if (!Consiste::resultError(answer).isEmpty())
        die(Consiste::resultError(answer));
    screen.stOperacao = QStringLiteral("E");
    screen.cdsAprovAgrup->setData(Consiste::CheckResultServ(answer, true, 0));
    screen.dbgPadrao->setSelectedField(QStringLiteral("IDCHECK"));
}

// Microseconds of one title click on the tick column; fails when a message was shown.
double selectAll(TfrmEmiPrevSocial &screen, RecordingHostUi &ui, int rows)
{
    ClientDataSet *set = screen.cdsAprovAgrup;
    const qsizetype shown = ui.messages().size();
    QElapsedTimer t;
    t.start();
    screen.dbgPadraoTitleClick(screen.dbgPadrao->findColumn(QStringLiteral("IDCHECK")));
    const double us = double(t.nsecsElapsed()) / 1000.0;
    if (ui.messages().size() != shown)
        die(QStringLiteral("select all showed: %1").arg(ui.messages().last().text));
    int ticked = 0;
    for (int r = 0; r < set->recordCount(); ++r)
        ticked += set->fieldByName(QStringLiteral("IDCHECK"))->valueAt(r).toString() ==
                  QLatin1String("C");
    if (ticked != rows || screen.cdsForneAux->recordCount() != rows)
        die(QStringLiteral("%1 rows ticked, %2 side records, of %3")
                .arg(ticked)
                .arg(screen.cdsForneAux->recordCount())
                .arg(rows));
    return us;
}

qint64 scalar(const QString &path, const QString &sql)
{
    qint64 value = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("c"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        if (q.exec(sql) && q.next())
            value = q.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("c"));
    return value;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    int rows = 10000;
    QString exe = QStringLiteral(FIS_APPSERVER_EXE);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (qstrcmp(argv[i], "--rows") == 0)
            rows = std::max(10, atoi(argv[i + 1]));
        else if (qstrcmp(argv[i], "--server") == 0)
            exe = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir tmp;
    const QString path = tmp.path() + QStringLiteral("/bench.sqlite");
    makeDatabase(path, rows);
    QProcess server;
    const int port = startServer(server, exe, path);

    LoginValues login;
    login.filiProc = QStringLiteral("0001");
    login.dataProc = TDateTime::fromDate(QDate(2026, 3, 15));
    login.nomeOperador = QStringLiteral("BENCH");
    login.reportDir = QStringLiteral(FIS_REPORT_DIR);
    login.webUrl = QStringLiteral("127.0.0.1");
    login.webPort = port;
    Quorvin::setLogin(login);
    RecordingHostUi ui;
    ui.install();

    // The tax of the lookups is the filter dialog's, as the clerk left it.
    frmFiltroEmiPrev = new TfrmFiltroEmiPrev;
    frmFiltroEmiPrev->edtCdImposto->setMaskedText(QStringLiteral("01"));
    auto *screen = new TfrmEmiPrevSocial;
    screen->FormCreate();
    loadSupplier(*screen);
    if (screen->cdsAprovAgrup->recordCount() != rows)
        die(QStringLiteral("the listing gave %1 rows, not %2")
                .arg(screen->cdsAprovAgrup->recordCount())
                .arg(rows));

    const double bareUs = bareRoundTrips(rows);
    const double aloneUs = writeBacksAlone(*screen, rows);
    const double lightUs = lightCallsAlone(*screen, rows);
    const double asLoadedUs = selectAll(*screen, ui, rows);
    screen->dbgPadraoTitleClick(screen->dbgPadrao->findColumn(QStringLiteral("IDCHECK")));

    // The server's values change underneath: every write-back now updates its invoice.
    const QString mine = QStringLiteral("NRINSJURNF = '%1' AND DTENTRSAID = '%2'")
                             .arg(kSupplierRegistration, kDay.toString(Qt::ISODate));
    scalar(path, QStringLiteral("UPDATE NOTAFISCAL SET VRMULTAGUIA = 1 WHERE %1").arg(mine));
    const qint64 auditsBefore = scalar(path, QStringLiteral("SELECT COUNT(*) FROM AUDITORIA"));
    const double changedUs = selectAll(*screen, ui, rows);
    const qint64 written = scalar(
        path,
        QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE VRMULTAGUIA = 0 AND %1").arg(mine));
    const qint64 audits =
        scalar(path, QStringLiteral("SELECT COUNT(*) FROM AUDITORIA")) - auditsBefore;

    std::printf("select all over %d entry rows of one supplier, payable grouped by supplier\n",
                rows);
    std::printf("  %d bare round trips (echo)     %9.0f ms  %7.1f us/row\n", rows, bareUs / 1000,
                bareUs / rows);
    std::printf("  %d light calls alone           %9.0f ms  %7.1f us/row  ratio %.2f\n", rows,
                lightUs / 1000, lightUs / rows, lightUs / bareUs);
    std::printf("  %d write-backs alone           %9.0f ms  %7.1f us/row  ratio %.2f\n", rows,
                aloneUs / 1000, aloneUs / rows, aloneUs / bareUs);
    std::printf("  select all, values as loaded   %9.0f ms  %7.1f us/row  ratio %.2f\n",
                asLoadedUs / 1000, asLoadedUs / rows, asLoadedUs / bareUs);
    std::printf("  select all, every row updated  %9.0f ms  %7.1f us/row  ratio %.2f\n",
                changedUs / 1000, changedUs / rows, changedUs / bareUs);
    std::printf("  (target: ratio <= 2.50)\n");
    std::printf("  rows written back by the second pass: %lld, audit rows: %lld\n",
                static_cast<long long>(written), static_cast<long long>(audits));

    delete screen;
    delete frmFiltroEmiPrev;
    server.terminate();
    server.waitForFinished(10000);
    return written == rows && audits == rows ? 0 : 1;
}
