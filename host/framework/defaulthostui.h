#pragma once
// The host's real windows behind HostUi: message boxes with Portuguese captions and buttons, and
// the pick, find and integration windows, which the screens part of the framework provides
// through the hooks below (until a hook is set, its window answers "nothing chosen").
#include "widgets/hostui.h"

#include <functional>

namespace fis {

class DefaultHostUi : public HostUi
{
public:
    using PickHook = std::function<bool(DataLink *link, const QString &title, QWidget *parent)>;
    using FindHook = std::function<bool(ClientDataSet *dataSet, QWidget *parent)>;
    using IntegrationHook = std::function<DataPacket(const DataPacket &packet, QWidget *parent)>;

    struct Hooks
    {
        PickHook pick;
        FindHook find;
        IntegrationHook integration;
    };

    // The windows every DefaultHostUi opens for pick, find and integration.
    static Hooks &hooks();

    // The one instance, and installing it as the HostUi of the process.
    static DefaultHostUi &instance();
    static void installAsDefault();

    // Caption of the message box of a kind: "Informação", "Atenção", "Erro", "Confirmação".
    static QString caption(MessageKind kind);

    // Information, warning and error: one "OK" button. Confirmation: "Sim" and "Não" (the
    // default), true when "Sim" is chosen.
    bool message(MessageKind kind, const QString &text, QWidget *parent = nullptr) override;
    bool pick(DataLink *link, const QString &title, QWidget *parent = nullptr) override;
    bool find(ClientDataSet *dataSet, QWidget *parent = nullptr) override;
    DataPacket integration(const DataPacket &packet, QWidget *parent = nullptr) override;
};

} // namespace fis
