#pragma once
// The declaration of the server object "Fis02900.rdmEmisGuiaPrv" that the client and the
// application server share: the arguments of each of its twelve methods as a struct, and the
// conversion of such a struct to the wire list and back.
//
// Each struct lists its members once, in call order, in fields(): name, member and whether the
// server writes it back (by reference). The kind of each argument follows from the member's
// type (QString text, double number, TDateTime date, DataPacket packet). Everything that knows
// a position — the method declarations, toWire(), fromWire(), writeBack(), readBack() — is
// derived from that one list.
//
//   client: toWire(args) → call → readBack(list, args)   (by-reference members come back)
//   server: fromWire(list) → method works on the members → writeBack(args, list)
#include "data/variant.h"
#include "net/rpcserver.h"

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <span>
#include <tuple>
#include <type_traits>

namespace fis::rdmEmisGuiaPrv {

inline constexpr const char *kServerName = "Fis02900.rdmEmisGuiaPrv";

// One argument: its name, its kind (fis::ArgKind of the server framing; the null packet stands
// for "no packet") and whether the server writes it back.
struct ArgDecl
{
    const char *name;
    ArgKind kind;
    bool byRef;
};

struct MethodDecl
{
    const char *name;
    std::span<const ArgDecl> args;
};

// One member of an arguments struct, at its place in the call.
template <class Args, class T>
struct Field
{
    const char *name;
    T Args::*member;
    bool byRef;
};

template <class Args, class T>
constexpr Field<Args, T> in(const char *name, T Args::*member)
{
    return {name, member, false};
}

template <class Args, class T>
constexpr Field<Args, T> ref(const char *name, T Args::*member)
{
    return {name, member, true};
}

// ---- the arguments of the twelve methods -----------------------------------------------------

struct GetParamFiscalArgs
{
    static constexpr const char *kMethod = "GetParamFiscal";
    static constexpr auto fields() { return std::tuple<>(); }
};

// The listing calls send "S"/"E" as stOperacao, the emission "SF"/"EF". Members marked (var) are
// by reference: after the call they hold what the server wrote into them.
struct GetEmisGuiaPrevArgs
{
    QString stOperacao;        //  1 (var) operation: "S", "E", "SF", "EF"
    QString cdEmpresa;         //  2 company
    QString cdInscEsta;        //  3 state registration
    QString cdInscMuni;        //  4 municipal registration
    QString cdSerie;           //  5 invoice series
    QString nrNotaFiscal;      //  6 invoice number
    QString cdFilial;          //  7 branch
    QString cdImposto;         //  8 tax code
    QString inscForne;         //  9 supplier registration
    QString stStatus;          // 10 (var) guide status wanted: "P", "E", "T"
    TDateTime dtEmiIni;        // 11 period start
    TDateTime dtEmiFin;        // 12 period end
    TDateTime dtProcessamento; // 13 processing date of the login's branch
    QString stFilial;          // 14 (var) key list of branches
    QString stLancamento;      // 15 (var) key list of entry numbers
    QString idGerConPagGuia;   // 16 payable grouped by supplier ("S") or not
    QString nrLanctoNf;        // 17 (var) entry number of the current entry invoice; the
                               //    first entries emission sends stInscForne here
    QString cdFilialAtual;     // 18 branch of the current entry invoice
    double vrTotalGuia = 0.0;  // 19 (var) running value of the guide
    TDateTime dtVencimento;    // 20 (var) due date (current row, or dtVencGuia when emitting)
    DataPacket forneAux;       // 21 invoices selected in the entries view (null: none)
    QString filiProc;          // 22 the login's branch
    DataPacket integracao;     // 23 accounting-integration packet (null: none)
    QString nomeOperador;      // 24 operator's name
    QString stLanctoSel;       // 25 (var) entry number of the first selected invoice
    QString stFilialSel;       // 26 (var) branch of the first selected invoice
    QString reservado;         // 27 always empty

    static constexpr const char *kMethod = "GetEmisGuiaPrev";
    static constexpr auto fields()
    {
        using A = GetEmisGuiaPrevArgs;
        return std::tuple(ref("stOperacao", &A::stOperacao), in("cdEmpresa", &A::cdEmpresa),
                          in("cdInscEsta", &A::cdInscEsta), in("cdInscMuni", &A::cdInscMuni),
                          in("cdSerie", &A::cdSerie), in("nrNotaFiscal", &A::nrNotaFiscal),
                          in("cdFilial", &A::cdFilial), in("cdImposto", &A::cdImposto),
                          in("inscForne", &A::inscForne), ref("stStatus", &A::stStatus),
                          in("dtEmiIni", &A::dtEmiIni), in("dtEmiFin", &A::dtEmiFin),
                          in("dtProcessamento", &A::dtProcessamento), ref("stFilial", &A::stFilial),
                          ref("stLancamento", &A::stLancamento),
                          in("idGerConPagGuia", &A::idGerConPagGuia),
                          ref("nrLanctoNf", &A::nrLanctoNf), in("cdFilialAtual", &A::cdFilialAtual),
                          ref("vrTotalGuia", &A::vrTotalGuia),
                          ref("dtVencimento", &A::dtVencimento), in("forneAux", &A::forneAux),
                          in("filiProc", &A::filiProc), in("integracao", &A::integracao),
                          in("nomeOperador", &A::nomeOperador), ref("stLanctoSel", &A::stLanctoSel),
                          ref("stFilialSel", &A::stFilialSel), in("reservado", &A::reservado));
    }
};

inline constexpr int kGetEmisGuiaPrevArity = 27;

// The rural contribution maps of a period; stStatus "N" not emitted, "S" emitted, "T" both.
struct GetFunRuralArgs
{
    QString cdImposto;
    QString cdEmpresa;
    QString cdInscEsta;
    TDateTime dtEmiIni;
    TDateTime dtEmiFin;
    QString stStatus; // (var) the status letter the listing applied

    static constexpr const char *kMethod = "GetFunRural";
    static constexpr auto fields()
    {
        using A = GetFunRuralArgs;
        return std::tuple(in("cdImposto", &A::cdImposto), in("cdEmpresa", &A::cdEmpresa),
                          in("cdInscEsta", &A::cdInscEsta), in("dtEmiIni", &A::dtEmiIni),
                          in("dtEmiFin", &A::dtEmiFin), ref("stStatus", &A::stStatus));
    }
};

struct GeraFunRuralArgs
{
    QString stNrMapa; // (var) key list of the maps to emit

    static constexpr const char *kMethod = "GeraFunRural";
    static constexpr auto fields()
    {
        return std::tuple(ref("stNrMapa", &GeraFunRuralArgs::stNrMapa));
    }
};

struct GetVdContaPagarArgs
{
    DataPacket forneAux; // the selected invoices (CDFILIAL, NRLANCTONF)

    static constexpr const char *kMethod = "GetVdContaPagar";
    static constexpr auto fields()
    {
        return std::tuple(in("forneAux", &GetVdContaPagarArgs::forneAux));
    }
};

struct GetVdBeneficiarioArgs
{
    QString cdImposto; // (var)

    static constexpr const char *kMethod = "GetVdBeneficiario";
    static constexpr auto fields()
    {
        return std::tuple(ref("cdImposto", &GetVdBeneficiarioArgs::cdImposto));
    }
};

// Due date, revenue code and values of one invoice.
struct SetDtVencArgs
{
    QString cdFilial;
    QString nrLanctoNf;
    QString vencimento; // "dd/MM/yyyy", or empty for none
    QString cdReceGuia;
    double vrOutrEntGuia = 0.0;
    double vrMultaGuia = 0.0;

    static constexpr const char *kMethod = "SetDtVenc";
    static constexpr auto fields()
    {
        using A = SetDtVencArgs;
        return std::tuple(in("cdFilial", &A::cdFilial), in("nrLanctoNf", &A::nrLanctoNf),
                          in("vencimento", &A::vencimento), in("cdReceGuia", &A::cdReceGuia),
                          in("vrOutrEntGuia", &A::vrOutrEntGuia),
                          in("vrMultaGuia", &A::vrMultaGuia));
    }
};

struct GetCodRecePadArgs
{
    QString cdImposto;

    static constexpr const char *kMethod = "GetCodRecePad";
    static constexpr auto fields()
    {
        return std::tuple(in("cdImposto", &GetCodRecePadArgs::cdImposto));
    }
};

struct GetVdCodReceArgs
{
    QString cdImposto;
    QString cdReceGuia;

    static constexpr const char *kMethod = "GetVdCodRece";
    static constexpr auto fields()
    {
        using A = GetVdCodReceArgs;
        return std::tuple(in("cdImposto", &A::cdImposto), in("cdReceGuia", &A::cdReceGuia));
    }
};

struct GetImpostoNfeArgs
{
    QString cdImposto; // empty: every tax

    static constexpr const char *kMethod = "GetImpostoNfe";
    static constexpr auto fields()
    {
        return std::tuple(in("cdImposto", &GetImpostoNfeArgs::cdImposto));
    }
};

struct GetParamFilialArgs
{
    QString cdFilial;

    static constexpr const char *kMethod = "GetParamFilial";
    static constexpr auto fields()
    {
        return std::tuple(in("cdFilial", &GetParamFilialArgs::cdFilial));
    }
};

// The periods of the rural maps, for the filter dialog's date lookups.
struct GetMapaArgs
{
    TDateTime dtEmiIni;
    QString cdEmpresa;
    QString cdImposto;
    QString cdInscEsta;
    QString idTipo; // "I" start dates; "F" end dates, of periods ending from dtEmiIni on

    static constexpr const char *kMethod = "GetMapa";
    static constexpr auto fields()
    {
        using A = GetMapaArgs;
        return std::tuple(in("dtEmiIni", &A::dtEmiIni), in("cdEmpresa", &A::cdEmpresa),
                          in("cdImposto", &A::cdImposto), in("cdInscEsta", &A::cdInscEsta),
                          in("idTipo", &A::idTipo));
    }
};

// The declarations of the twelve methods, in the order of the server's interface.
std::span<const MethodDecl> methods();
// The declaration of one method, or nullptr when the server object has no such method.
const MethodDecl *findMethod(const QString &name);

// ---- conversions --------------------------------------------------------------------------------

namespace detail {

template <class T>
constexpr ArgKind kindOfType()
{
    if constexpr (std::is_same_v<T, QString>)
        return ArgKind::Text;
    else if constexpr (std::is_same_v<T, double>)
        return ArgKind::Float;
    else if constexpr (std::is_same_v<T, TDateTime>)
        return ArgKind::Date;
    else {
        static_assert(std::is_same_v<T, DataPacket>, "an argument is text, number, date or packet");
        return ArgKind::Packet;
    }
}

inline Variant toVariant(const QString &v)
{
    return makeText(v);
}
inline Variant toVariant(double v)
{
    return makeFloat(v);
}
inline Variant toVariant(TDateTime v)
{
    return makeDate(v);
}
inline Variant toVariant(const DataPacket &v)
{
    return makePacket(v);
}

// A value of the wire as a member; null, or a value of another kind, is the member's empty value.
template <class T>
T fromVariant(const Variant &v)
{
    if constexpr (std::is_same_v<T, QString>)
        return v.toString();
    else if constexpr (std::is_same_v<T, double>)
        return v.toDouble();
    else
        return v.metaType() == QMetaType::fromType<T>() ? v.value<T>() : T();
}

// Calls f(position, field) for every field of Args, in call order.
template <class Args, class F>
void forEachField(F &&f)
{
    std::apply(
        [&f](const auto &...field) {
            int position = 0;
            (f(position++, field), ...);
        },
        Args::fields());
}

template <class Args>
constexpr auto argDecls()
{
    return std::apply(
        [](const auto &...field) {
            return std::array<ArgDecl, sizeof...(field)>{ArgDecl{
                field.name, kindOfType<std::remove_cvref_t<decltype(Args().*(field.member))>>(),
                field.byRef}...};
        },
        Args::fields());
}

template <class Args>
inline constexpr auto kArgDecls = argDecls<Args>();

template <class M>
struct MemberType;
template <class C, class T>
struct MemberType<T C::*>
{
    using type = T;
};

// True when the fields add up to the whole struct: a member left out of fields() (or a second
// field of the same member) breaks the build. The member types have no padding between them.
template <class Args>
constexpr bool listsEveryMember()
{
    const std::size_t listed = std::apply(
        [](const auto &...field) {
            return (std::size_t(0) + ... +
                    sizeof(typename MemberType<std::remove_cvref_t<decltype(field.member)>>::type));
        },
        Args::fields());
    return listed == (std::is_empty_v<Args> ? 0 : sizeof(Args));
}

} // namespace detail

template <class Args>
inline constexpr int kArity = int(std::tuple_size_v<decltype(Args::fields())>);

// The declaration of the method whose arguments Args holds.
template <class Args>
constexpr MethodDecl declOf()
{
    static_assert(detail::listsEveryMember<Args>(), "fields() must list every member once");
    return {Args::kMethod, detail::kArgDecls<Args>};
}

// Every member, in call order.
template <class Args>
QList<Variant> toWire(const Args &args)
{
    QList<Variant> wire;
    wire.reserve(kArity<Args>);
    detail::forEachField<Args>(
        [&](int, const auto &field) { wire.append(detail::toVariant(args.*(field.member))); });
    return wire;
}

// The members of a wire list of the method's arity (a missing value reads as empty).
template <class Args>
Args fromWire(const QList<Variant> &wire)
{
    Args args;
    detail::forEachField<Args>([&](int position, const auto &field) {
        auto &member = args.*(field.member);
        member = detail::fromVariant<std::remove_cvref_t<decltype(member)>>(wire.value(position));
    });
    return args;
}

// Puts the by-reference members into their places of the wire list (server side).
template <class Args>
void writeBack(const Args &args, QList<Variant> &wire)
{
    detail::forEachField<Args>([&](int position, const auto &field) {
        if (field.byRef && position < wire.size())
            wire[position] = detail::toVariant(args.*(field.member));
    });
}

// Takes the by-reference values of the wire list into their members (client side); the values
// are taken as they are: check them against declOf<Args>() first.
template <class Args>
void readBack(const QList<Variant> &wire, Args &args)
{
    detail::forEachField<Args>([&](int position, const auto &field) {
        if (!field.byRef)
            return;
        auto &member = args.*(field.member);
        member = detail::fromVariant<std::remove_cvref_t<decltype(member)>>(wire.value(position));
    });
}

} // namespace fis::rdmEmisGuiaPrv
