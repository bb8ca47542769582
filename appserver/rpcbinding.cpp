#include "rpcbinding.h"

#include "guiaservice.h"

#include <QSqlDatabase>

namespace fis {

namespace {

namespace rdm = rdmEmisGuiaPrv;

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
    GuiaService::forEachMethod([&](auto method) {
        using Args = GuiaService::ArgsOf<decltype(method)>;
        constexpr rdm::MethodDecl decl = rdm::declOf<Args>();
        server.addMethod(QString::fromLatin1(kServerObject), QString::fromLatin1(decl.name),
                         rpcParams(decl),
                         [config, method](QList<Variant> &wire, const RpcContext &context) {
                             Args args = rdm::fromWire<Args>(wire);
                             // The operator is the one the connection sends with every call.
                             CallInfo info;
                             info.peer = context.peer;
                             info.operador = context.operatorName.trimmed();
                             GuiaService service(threadConnection(config), config.kind);
                             const Variant result = (service.*method)(args, info);
                             rdm::writeBack(args, wire);
                             return result;
                         });
    });
}

} // namespace fis
