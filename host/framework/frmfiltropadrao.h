#pragma once
// Base of the filter dialogs: a criteria group box the subclass fills, the screen-code label, the
// Confirmar / Cancelar button panel, the saved-options buttons and the dialog's message
// catalogue. The dialog is created once and then only hidden when it closes, so its controls keep
// their values between uses.
//
// Lifecycle: FormCreate() runs once, on the first show (or earlier when the owner calls
// create()); FormActivate() runs every time the dialog is shown. Subclasses override the virtual
// handlers and call the base version first. Every entry from Qt runs inside fis::guarded().
//
// By keyboard: Enter confirms, Escape cancels. Every use starts on the first field of the tab
// order, and the dialog opens where it was the last time (the first time, over its parent).
#include <QDialog>
#include <QPoint>
#include <QString>

class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;
class QFrame;
class QVBoxLayout;
class TMessages;

class TfrmFiltroPadrao : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmFiltroPadrao(const QString &screenCode, QWidget *parent = nullptr);
    ~TfrmFiltroPadrao() override;

    // Components (objectName = the member's name).
    QGroupBox *grbFiltroPadrao = nullptr; // criteria area; layout: criteriaLayout()
    QLabel *lblCodTela = nullptr;         // screen code, e.g. "FIS02910"
    QFrame *pnlBotoes = nullptr;          // button panel
    QPushButton *sbtConfirma = nullptr;   // "Confirmar"
    QPushButton *sbtCancel = nullptr;     // "Cancelar"
    QToolButton *btfSaveOpc = nullptr;    // saves the criteria as the clerk's options
    QToolButton *btfLoadOpc = nullptr;    // loads them back
    TMessages *msgPadrao = nullptr;       // the dialog's message catalogue

    // The layout of grbFiltroPadrao where subclasses put their criteria.
    QVBoxLayout *criteriaLayout() const { return m_criteriaLayout; }

    // Runs FormCreate() once (no-op afterwards). Called by the first show when nobody did before.
    void create();
    bool isCreated() const { return m_created; }

    // Handlers; override and call the base version first.
    virtual void FormCreate();
    virtual void FormActivate();
    virtual void FormClose();
    // Base: accepts the dialog (ends the modal display with QDialog::Accepted).
    virtual void sbtConfirmaClick();
    // Base: ends the modal display (QDialog::Rejected). Subclasses restore their fields after it.
    virtual void sbtCancelClick();
    // Save / load the criteria values (line edits, combos, check and radio buttons, spin boxes and
    // date edits inside grbFiltroPadrao, by objectName) as the clerk's saved options.
    virtual void btfSaveOpcClick();
    virtual void btfLoadOpcClick();

    QString screenCode() const { return m_screenCode; }
    // Where btfSaveOpc/btfLoadOpc keep the options (an INI file); empty = the application's
    // settings. Tests point it at a temporary file.
    void setOptionsFile(const QString &path) { m_optionsFile = path; }

    // Showing puts the focus on the first control and the window where it was last hidden.
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override; // Escape: same path as the Cancel button
    void hideEvent(QHideEvent *event) override;

private:
    // The first enabled criteria field of the tab order; null when none.
    QWidget *firstControl() const;

    QString m_screenCode;
    QPoint m_place; // where the dialog was when it was last hidden
    bool m_placed = false;
    QString m_optionsFile;
    QVBoxLayout *m_criteriaLayout = nullptr;
    bool m_created = false;
};
