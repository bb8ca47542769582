// Round trip of one small remote call through TNetConnection and RpcServer, against the bare
// cpp-httplib echo on the same machine (keep-alive, TCP_NODELAY on both ends); then calls per
// second with 16 clients at once. Prints its figures; run by hand:  fis_net_bench [calls]
#include "net/netconnection.h"
#include "net/rpcserver.h"
#include "net/rpcwire.h"

#include <httplib.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace fis;
using Clock = std::chrono::steady_clock;

namespace {

const QString kObject = QStringLiteral("Fis02900.rdmEmisGuiaPrv");

double microsPerCall(Clock::duration d, int calls)
{
    return std::chrono::duration<double, std::micro>(d).count() / calls;
}

// Median of a few runs of fn(calls), in µs per call.
template <typename Fn>
double measure(int calls, Fn fn)
{
    std::vector<double> runs;
    for (int r = 0; r < 5; ++r) {
        const auto t0 = Clock::now();
        fn(calls);
        runs.push_back(microsPerCall(Clock::now() - t0, calls));
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(100, atoi(argv[1])) : 5000;

    // The same small call both ways: SetDtVenc-like, six arguments.
    const RpcRequest sample{QStringLiteral("Echo"),
                            {makeText(QStringLiteral("0001")), makeText(QStringLiteral("123456")),
                             makeText(QStringLiteral("20/01/2026")),
                             makeText(QStringLiteral("2631")), makeFloat(0.0), makeFloat(12.5)},
                            {}};
    const std::string requestBody = encodeRequest(sample).toStdString();

    // Bare baseline: httplib echoing the body back.
    httplib::Server bare;
    bare.set_tcp_nodelay(true);
    bare.set_keep_alive_max_count(std::numeric_limits<int>::max());
    bare.Post("/echo", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(req.body, "application/cbor");
    });
    const int barePort = bare.bind_to_any_port("127.0.0.1");
    std::thread bareThread([&] { bare.listen_after_bind(); });
    while (!bare.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    httplib::Client bareClient("127.0.0.1", barePort);
    bareClient.set_keep_alive(true);
    bareClient.set_tcp_nodelay(true);
    auto bareRun = [&](int n) {
        for (int i = 0; i < n; ++i) {
            auto res = bareClient.Post("/echo", requestBody, "application/cbor");
            if (!res || res->status != 200) {
                std::fprintf(stderr, "bare echo failed\n");
                std::exit(1);
            }
        }
    };

    // The same through the framing: RpcServer with a method declared with its six parameters.
    RpcServerOptions options;
    options.threads = 32;
    RpcServer server(options);
    using P = RpcParam;
    server.addMethod(kObject, QStringLiteral("Echo"),
                     {P::in(ArgKind::Text), P::in(ArgKind::Text), P::in(ArgKind::Text),
                      P::in(ArgKind::Text), P::in(ArgKind::Float), P::in(ArgKind::Float)},
                     [](QList<Variant> &args, const RpcContext &) { return args[0]; });
    server.addMethod(kObject, QStringLiteral("Nop"), {},
                     [](QList<Variant> &, const RpcContext &) { return Variant(); });
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.errorString()));
        return 1;
    }

    TNetConnection net;
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(server.port());
    net.setServerName(kObject);
    QList<Variant> vars = sample.args;
    QList<Variant *> args;
    for (Variant &v : vars)
        args.append(&v);
    auto netRun = [&](int n) {
        for (int i = 0; i < n; ++i) {
            net.call(sample.method, args);
            if (net.lastCallFailed()) {
                std::fprintf(stderr, "call failed: %s\n", qPrintable(net.lastError()));
                std::exit(1);
            }
        }
    };

    bareRun(200); // warm up both paths
    netRun(200);
    const double bareUs = measure(calls, bareRun);
    const double netUs = measure(calls, netRun);
    std::printf("round trip, %d calls x 5 runs (median), body %zu bytes\n", calls,
                requestBody.size());
    std::printf("  bare httplib echo       %8.1f us/call\n", bareUs);
    std::printf("  TNetConnection call     %8.1f us/call\n", netUs);
    std::printf("  ratio                   %8.2f  (target <= 1.50)\n", netUs / bareUs);

    // 16 clients at once, each with a connection of its own, on a trivial method.
    constexpr int kClients = 16;
    const int perClient = std::max(200, calls / 4);
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    const auto t0 = Clock::now();
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            TNetConnection conn;
            conn.setHost(QStringLiteral("127.0.0.1"));
            conn.setPort(server.port());
            conn.setServerName(kObject);
            for (int i = 0; i < perClient; ++i) {
                conn.call(QStringLiteral("Nop"));
                if (conn.lastCallFailed())
                    ++failures;
            }
        });
    }
    for (auto &t : clients)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("concurrency, %d clients x %d calls of a trivial method\n", kClients, perClient);
    std::printf("  %.0f calls/s  (%.1f us/call per client), %d failures\n",
                kClients * perClient / seconds, seconds * 1e6 / perClient, failures.load());

    server.stop();
    bare.stop();
    bareThread.join();
    return failures ? 1 : 0;
}
