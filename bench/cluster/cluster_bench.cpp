// Load driver for several application servers behind a balancer, run by hand:
//
//   cluster_bench --port P [--host H] [--clerks 16] [--seconds 60] [--token T]
//                 [--fault-every S --fault COMMAND] [--database URL] [--told FILE] [--failures]
//
// N clerks, each with its own TNetConnection to H:P (the balancer), run a clerk's mix for a
// fixed time. Every S seconds COMMAND runs through /bin/sh (e.g. "scripts/cluster.sh kill 1").
// Prints calls/s, p50/p99 per method, errors by kind and how long after each fault the failures
// went on (--failures: every failed call, its start and end from the end of the fault); then, with
// --database, checks the database's invariants, the invoices the server said it emitted included
// (also written to FILE with --told). Exit status 1 on a violation. The token may also come from
// FIS_APPSERVER_TOKEN.
#include "clerk.h"
#include "database.h"
#include "invariants.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

using namespace fis;
using namespace fis::bench;

namespace {

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Carga de vários caixas contra servidores de aplicação balanceados."));
    parser.addHelpOption();
    const QCommandLineOption hostOpt(QStringLiteral("host"), QStringLiteral("Balanceador."),
                                     QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Porta."),
                                     QStringLiteral("porta"));
    const QCommandLineOption clerksOpt(QStringLiteral("clerks"), QStringLiteral("Caixas."),
                                       QStringLiteral("N"), QStringLiteral("16"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("Duração."),
                                        QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption tokenOpt(QStringLiteral("token"), QStringLiteral("Ficha."),
                                      QStringLiteral("ficha"));
    const QCommandLineOption everyOpt(QStringLiteral("fault-every"),
                                      QStringLiteral("Intervalo entre falhas."),
                                      QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
                                      QStringLiteral("Comando que provoca a falha."),
                                      QStringLiteral("comando"));
    const QCommandLineOption dbOpt(QStringLiteral("database"),
                                   QStringLiteral("Banco a verificar ao fim."),
                                   QStringLiteral("url"));
    const QCommandLineOption toldOpt(QStringLiteral("told"),
                                     QStringLiteral("Arquivo das notas confirmadas."),
                                     QStringLiteral("arquivo"));
    const QCommandLineOption failuresOpt(QStringLiteral("failures"),
                                         QStringLiteral("Lista cada chamada que falhou."));
    parser.addOptions({hostOpt, portOpt, clerksOpt, secondsOpt, tokenOpt, everyOpt, faultOpt, dbOpt,
                       toldOpt, failuresOpt});
    parser.process(app);

    ClerkOptions options;
    options.host = parser.value(hostOpt);
    options.port = parser.value(portOpt).toInt();
    options.token = parser.isSet(tokenOpt) ? parser.value(tokenOpt)
                                           : qEnvironmentVariable("FIS_APPSERVER_TOKEN");
    const int clerks = std::max(1, parser.value(clerksOpt).toInt());
    const double duration = std::max(1.0, parser.value(secondsOpt).toDouble());
    const double every = parser.value(everyOpt).toDouble();
    const QByteArray fault = parser.value(faultOpt).toLocal8Bit();
    if (options.port <= 0) {
        std::fprintf(stderr, "cluster_bench: informe --port\n");
        return 2;
    }

    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(duration));
    std::atomic<bool> stop = false;
    std::vector<std::future<ClerkResult>> running;
    for (int i = 0; i < clerks; ++i)
        running.push_back(std::async(std::launch::async, runClerk, i + 1, std::cref(options),
                                     deadline, std::cref(stop)));
    // When each fault's command started and when it returned (a kill is done then; a restart of
    // the database is over).
    std::vector<Clock::time_point> faults, faultsDone;
    if (every > 0 && !fault.isEmpty()) {
        const auto step =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(every));
        for (auto next = start + step; next < deadline; next += step) {
            std::this_thread::sleep_until(next);
            faults.push_back(Clock::now());
            const int rc = std::system(fault.constData());
            faultsDone.push_back(Clock::now());
            std::printf("%6.1f s  falha provocada: %s (saída %d)\n", seconds(faults.back() - start),
                        fault.constData(), rc);
            std::fflush(stdout);
        }
    }
    ClerkResult all;
    for (auto &f : running) {
        ClerkResult r = f.get();
        for (auto it = r.millis.begin(); it != r.millis.end(); ++it)
            all.millis[it.key()].insert(all.millis[it.key()].end(), it->begin(), it->end());
        for (auto it = r.errors.cbegin(); it != r.errors.cend(); ++it)
            all.errors[it.key()] += it.value();
        all.failures.insert(all.failures.end(), r.failures.begin(), r.failures.end());
        all.emitted += r.emitted;
        all.refusals += r.refusals;
    }
    const double elapsed = seconds(Clock::now() - start);

    qint64 calls = 0;
    for (const auto &v : all.millis)
        calls += qint64(v.size());
    std::printf("\n%d caixas, %.1f s: %lld chamadas, %.0f chamadas/s\n", clerks, elapsed, calls,
                double(calls) / elapsed);
    std::printf("%-22s %9s %9s %9s %9s %9s\n", "método", "chamadas", "por s", "p50 ms", "p99 ms",
                "máx ms");
    QStringList methods = all.millis.keys();
    methods.sort();
    for (const QString &m : methods) {
        const std::vector<double> &v = all.millis[m];
        std::printf("%-22s %9zu %9.1f %9.2f %9.2f %9.1f\n", qPrintable(m), v.size(),
                    double(v.size()) / elapsed, percentile(v, 0.5), percentile(v, 0.99),
                    v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
    }
    std::printf("notas emitidas confirmadas: %lld; emissões recusadas (regra de negócio): %lld\n",
                qint64(all.emitted.size()), all.refusals);
    std::printf("erros por tipo:%s\n", all.errors.isEmpty() ? " nenhum" : "");
    for (auto it = all.errors.cbegin(); it != all.errors.cend(); ++it)
        std::printf("  %6lld  %s\n", it.value(), qPrintable(it.key()));

    // Failures against the faults: how many came after each one and for how long.
    if (!faults.empty() || !all.failures.empty()) {
        std::sort(all.failures.begin(), all.failures.end(),
                  [](const Failure &a, const Failure &b) { return a.at < b.at; });
        qint64 before = 0;
        std::vector<qint64> perFault(faults.size(), 0);
        std::vector<double> lastAfter(faults.size(), -1e9);
        for (const Failure &f : all.failures) {
            auto it = std::upper_bound(faults.begin(), faults.end(), f.at);
            if (it == faults.begin()) {
                ++before;
                continue;
            }
            const size_t i = size_t(it - faults.begin()) - 1;
            if (parser.isSet(failuresOpt))
                std::printf("  falha %zu %+6.2f s (começou %+6.2f s) %s\n", i + 1,
                            seconds(f.at - faultsDone[i]), seconds(f.started - faultsDone[i]),
                            qPrintable(f.kind));
            ++perFault[i];
            lastAfter[i] = std::max(lastAfter[i], seconds(f.at - faultsDone[i]));
        }
        if (before > 0 && !faults.empty())
            std::printf("falhas antes da primeira falha provocada: %lld\n", before);
        for (size_t i = 0; i < faults.size(); ++i) {
            std::printf("falha %zu (%.1f s, comando de %.2f s): %lld chamada(s) falharam", i + 1,
                        seconds(faults[i] - start), seconds(faultsDone[i] - faults[i]),
                        perFault[i]);
            if (perFault[i] > 0)
                std::printf(", a última %.2f s após o fim do comando", lastAfter[i]);
            std::printf("\n");
        }
    }

    if (parser.isSet(toldOpt)) {
        QFile file(parser.value(toldOpt));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            for (const InvoiceKey &k : all.emitted)
                file.write(QStringLiteral("%1;%2\n").arg(k.first, k.second).toUtf8());
        } else {
            std::fprintf(stderr, "cluster_bench: %s: %s\n", qPrintable(file.fileName()),
                         qPrintable(file.errorString()));
        }
    }
    if (!parser.isSet(dbOpt))
        return 0;
    QString error;
    DbConfig config;
    if (!DbConfig::parse(parser.value(dbOpt), &config, &error)) {
        std::fprintf(stderr, "cluster_bench: %s\n", qPrintable(error));
        return 2;
    }
    QSqlDatabase db = openConnection(config, QStringLiteral("cluster_bench"), &error);
    if (!db.isOpen()) {
        std::fprintf(stderr, "cluster_bench: %s\n", qPrintable(error));
        return 2;
    }
    const InvariantReport r = checkInvariants(db, all.emitted);
    std::printf("banco: %lld guias, %lld contas a pagar, %lld lançamentos, %lld registros de "
                "auditoria de emissão\n",
                r.guides, r.payables, r.postings, r.auditRows);
    for (const QString &v : r.violations)
        std::printf("VIOLAÇÃO %s\n", qPrintable(v));
    std::printf("invariantes: %s\n",
                r.ok() ? "ok"
                       : qPrintable(QStringLiteral("%1 violação(ões)").arg(r.violations.size())));
    return r.ok() ? 0 : 1;
}
