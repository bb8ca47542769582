#include "rpcbinding.h"

#include "guiaservice.h"

#include <QHash>
#include <QMutex>
#include <QSqlDatabase>

#include <memory>

namespace fis {

namespace {

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

} // namespace

void registerGuiaMethods(RpcServer &server, const DbConfig &config)
{
    auto operators = std::make_shared<Operators>();
    for (const GuiaService::MethodSpec &spec : GuiaService::methods()) {
        const GuiaService::Method method = spec.method;
        const bool listing = spec.name == QLatin1String("GetEmisGuiaPrev");
        server.addMethod(
            QString::fromLatin1(kServerObject), spec.name, spec.params,
            [config, method, listing, operators](QList<Variant> &args, const RpcContext &context) {
                if (listing && args.size() > 23)
                    operators->remember(context.peer, args.at(23).toString());
                CallInfo info;
                info.peer = context.peer;
                info.operador = operators->of(context.peer);
                if (info.operador.isEmpty())
                    info.operador = context.peer;
                GuiaService service(threadConnection(config), config.kind);
                return (service.*method)(args, info);
            });
    }
}

} // namespace fis
