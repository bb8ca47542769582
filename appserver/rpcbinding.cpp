#include "rpcbinding.h"

#include "guiaservice.h"

#include <QHash>
#include <QMutex>
#include <QSqlDatabase>

#include <memory>
#include <type_traits>

namespace fis {

namespace {

namespace rdm = rdmEmisGuiaPrv;

// Operator names by client connection: SetDtVenc and the map emission carry no operator of
// their own, so the audit trail takes the one the same client sent with its last listing.
class Operators
{
public:
    void remember(const QString &peer, const QString &name)
    {
        if (name.trimmed().isEmpty())
            return;
        QMutexLocker lock(&m_mutex);
        if (m_byPeer.size() > 4096)
            m_byPeer.clear();
        m_byPeer.insert(peer, name.trimmed());
    }
    QString of(const QString &peer) const
    {
        QMutexLocker lock(&m_mutex);
        return m_byPeer.value(peer);
    }

private:
    mutable QMutex m_mutex;
    QHash<QString, QString> m_byPeer;
};

QList<RpcParam> rpcParams(const rdm::MethodDecl &decl)
{
    QList<RpcParam> params;
    for (const rdm::ArgDecl &a : decl.args)
        params.append({a.kind, a.byRef});
    return params;
}

} // namespace

void registerGuiaMethods(RpcServer &server, const DbConfig &config)
{
    auto operators = std::make_shared<Operators>();
    GuiaService::forEachMethod([&](auto method) {
        using Args = GuiaService::ArgsOf<decltype(method)>;
        constexpr rdm::MethodDecl decl = rdm::declOf<Args>();
        server.addMethod(
            QString::fromLatin1(kServerObject), QString::fromLatin1(decl.name), rpcParams(decl),
            [config, method, operators](QList<Variant> &wire, const RpcContext &context) {
                Args args = rdm::fromWire<Args>(wire);
                if constexpr (std::is_same_v<Args, rdm::GetEmisGuiaPrevArgs>)
                    operators->remember(context.peer, args.nomeOperador);
                CallInfo info;
                info.peer = context.peer;
                info.operador = operators->of(context.peer);
                if (info.operador.isEmpty())
                    info.operador = context.peer;
                GuiaService service(threadConnection(config), config.kind);
                const Variant result = (service.*method)(args, info);
                rdm::writeBack(args, wire);
                return result;
            });
    });
}

} // namespace fis
