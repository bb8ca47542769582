#include "services/rdmEmisGuiaPrvDecl.h"

namespace fis::rdmEmisGuiaPrv {

namespace {

static_assert(kArity<GetEmisGuiaPrevArgs> == kGetEmisGuiaPrevArity);

constexpr MethodDecl kMethods[] = {
    declOf<GetParamFiscalArgs>(), declOf<GetEmisGuiaPrevArgs>(), declOf<GetFunRuralArgs>(),
    declOf<GeraFunRuralArgs>(),   declOf<GetVdContaPagarArgs>(), declOf<GetVdBeneficiarioArgs>(),
    declOf<SetDtVencArgs>(),      declOf<GetCodRecePadArgs>(),   declOf<GetVdCodReceArgs>(),
    declOf<GetImpostoNfeArgs>(),  declOf<GetParamFilialArgs>(),  declOf<GetMapaArgs>(),
};

} // namespace

std::span<const MethodDecl> methods()
{
    return kMethods;
}

const MethodDecl *findMethod(const QString &name)
{
    for (const MethodDecl &m : kMethods) {
        if (name == QLatin1String(m.name))
            return &m;
    }
    return nullptr;
}

} // namespace fis::rdmEmisGuiaPrv
