#pragma once
// The package protocol between the host application and a screen module loaded at run time.
// The module exports plain C names that the host resolves with QLibrary::resolve():
//
//   void Initialize()                 initialise the module's units, in order (counted)
//   void Finalize()                   finalise them in reverse order; the last one clears state
//                                     and destroys the module's windows, so that it can unload
//   const FisPackageInfo *GetPackageInfoTable()
//   void SetFormFactory(FisFormFactory) the host's form factory (nullptr: none)
//   void IniProc()                    open the module's screen
//
// plus whatever screen factories the module offers (CriaEmiPrevSocial, ...). The host calls
// Initialize before anything else and Finalize before it unloads the module.
//
// Form factory. The host is the owner of the windows a module creates: the module describes the
// form it wants and the host builds it through the request's constructor under the parent it
// chooses, then returns it. For a child screen the host may wrap the form in a frame of its own
// (an MDI sub-window); the module then shows and maximises that frame. The host must give the
// form back untouched or return nullptr to refuse it. Without a factory the module builds the
// form as a top-level window itself.
class QWidget;

extern "C" {

enum FisFormKind {
    FisChildScreen = 0, // a non-modal screen, child window of the host's main window
    FisModalDialog = 1, // a dialog shown modally over the host's main window
};

// Builds the form under parent (which may be null).
typedef QWidget *(*FisFormConstructor)(QWidget *parent, void *context);

struct FisFormRequest
{
    const char *formClass; // the form's class name, e.g. "TfrmEmiPrevSocial"
    int kind;              // FisFormKind
    FisFormConstructor construct;
    void *context; // passed back to construct
};

typedef QWidget *(*FisFormFactory)(const FisFormRequest *request);

struct FisPackageUnit
{
    const char *name;
};

// The module's description: its units in initialisation order, the host modules it needs
// (shared-library names without prefix and suffix) and its version.
struct FisPackageInfo
{
    const char *packageName;
    const char *version;     // "6.10.040"
    const char *fileVersion; // "6.10.40.0"
    int unitCount;
    const FisPackageUnit *units;
    int requiredCount;
    const char *const *requiredModules;
};

typedef void (*FisProc)();
typedef bool (*FisBoolFunc)();
typedef const FisPackageInfo *(*FisPackageInfoFunc)();
typedef void (*FisSetFormFactoryFunc)(FisFormFactory factory);
}
