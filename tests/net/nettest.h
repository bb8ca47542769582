#pragma once
// A small application server for the network tests: one object with a handful of methods.
#include "data/packet.h"
#include "net/rpcserver.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QSize>
#include <QVariantList>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

namespace fis::test {

inline const QString kObject = QStringLiteral("Fis02900.rdmEmisGuiaPrv");

// A bare httplib server answering every call with whatever the test wants.
class FakeServer
{
public:
    explicit FakeServer(httplib::Server::Handler handler)
    {
        m_http.Post(".*", std::move(handler));
        m_port = m_http.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
    }
    ~FakeServer()
    {
        m_http.stop();
        m_thread.join();
    }
    int port() const { return m_port; }

private:
    httplib::Server m_http;
    std::thread m_thread;
    int m_port = 0;
};

// By-reference positions (1-based) of the 27-argument listing call.
inline const QList<int> kListingRefs = {10, 14, 15, 19, 25, 26};

// The listing's answer: a small packet (a client decodes it as it arrives).
inline DataPacket listingPacket()
{
    return buildPacket({{"GUIA", FieldType::String, 10}}, {{"1"}, {"2"}});
}

inline void addTestMethods(RpcServer &server)
{
    using P = RpcParam;
    server.addMethod(kObject, QStringLiteral("Echo"), {P::in(ArgKind::Any)},
                     [](QList<Variant> &args, const RpcContext &) { return args[0]; });

    // The listing call's shape: 27 arguments, six of them by reference. The handler overwrites
    // every argument; only the by-reference ones may reach the caller.
    QList<RpcParam> listing;
    for (int i = 1; i <= 27; ++i) {
        const ArgKind kind = i == 19                           ? ArgKind::Float
                             : (i >= 11 && i <= 13) || i == 20 ? ArgKind::Date
                             : i == 21 || i == 23              ? ArgKind::Packet
                                                               : ArgKind::Text;
        listing.append(kListingRefs.contains(i) ? P::ref(kind) : P::in(kind));
    }
    server.addMethod(kObject, QStringLiteral("GetEmisGuiaPrev"), listing,
                     [](QList<Variant> &args, const RpcContext &) {
                         for (qsizetype i = 0; i < args.size(); ++i) {
                             if (kindOf(args[i]) == VariantKind::Float)
                                 args[i] = makeFloat(args[i].toDouble() + 100.0);
                             else if (kindOf(args[i]) == VariantKind::Text)
                                 args[i] = makeText(args[i].toString() + QStringLiteral("*"));
                             else
                                 args[i] = makeText(QStringLiteral("changed"));
                         }
                         return makePacket(listingPacket());
                     });

    server.addMethod(
        kObject, QStringLiteral("Kinds"),
        {P::in(ArgKind::Text), P::in(ArgKind::Float), P::in(ArgKind::Date), P::in(ArgKind::Packet)},
        [](QList<Variant> &args, const RpcContext &) { return Variant(args); });

    server.addMethod(
        kObject, QStringLiteral("Triple"), {}, [](QList<Variant> &, const RpcContext &) {
            return Variant(QVariantList{makePacket(DataPacket{"r"}), makePacket(DataPacket{"i"}),
                                        makePacket(DataPacket{"a"})});
        });

    server.addMethod(kObject, QStringLiteral("Message"), {},
                     [](QList<Variant> &, const RpcContext &) {
                         return makeText(QStringLiteral("Guia já emitida."));
                     });

    server.addMethod(kObject, QStringLiteral("Boom"), {P::ref(ArgKind::Text)},
                     [](QList<Variant> &args, const RpcContext &) -> Variant {
                         args[0] = makeText(QStringLiteral("must not come back"));
                         throw std::runtime_error("Falha ao gravar a guia 123.");
                     });

    server.addMethod(kObject, QStringLiteral("BadResult"), {},
                     [](QList<Variant> &, const RpcContext &) { return Variant(QSize(1, 1)); });

    server.addMethod(kObject, QStringLiteral("Slow"), {P::in(ArgKind::Float)},
                     [](QList<Variant> &args, const RpcContext &) {
                         std::this_thread::sleep_for(
                             std::chrono::milliseconds(qint64(args[0].toDouble())));
                         return makeText(QStringLiteral("done"));
                     });

    server.addMethod(
        kObject, QStringLiteral("Where"), {},
        [](QList<Variant> &, const RpcContext &context) { return makeFloat(context.threadIndex); });

    server.addMethod(
        kObject, QStringLiteral("Who"), {},
        [](QList<Variant> &, const RpcContext &context) { return makeText(context.operatorName); });
}

inline std::unique_ptr<RpcServer> startTestServer(RpcServerOptions options = {})
{
    auto server = std::make_unique<RpcServer>(std::move(options));
    addTestMethods(*server);
    EXPECT_TRUE(server->start()) << server->errorString().toStdString();
    return server;
}

// A port on which nothing listens (it was free a moment ago).
inline int deadPort()
{
    RpcServer probe;
    EXPECT_TRUE(probe.start());
    const int port = probe.port();
    probe.stop();
    return port;
}

} // namespace fis::test
