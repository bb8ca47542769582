#include "framework/frmfiltropadrao.h"

#include "framework/tmessages.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

QPushButton *panelButton(QWidget *parent, const char *name, const QString &text,
                         QStyle::StandardPixmap icon)
{
    auto *button = new QPushButton(parent->style()->standardIcon(icon), text, parent);
    button->setObjectName(QLatin1String(name));
    // Only the Confirm button is the dialog's default (Enter); no button becomes the default by
    // taking the focus.
    button->setAutoDefault(false);
    return button;
}

QToolButton *optionButton(QWidget *parent, const char *name, const QString &hint,
                          QStyle::StandardPixmap icon)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(hint);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAutoRaise(true);
    return button;
}

// The criteria controls whose values make up the saved options: named controls inside the
// criteria box that the clerk can change.
QList<QWidget *> optionControls(QGroupBox *box)
{
    QList<QWidget *> out;
    for (QWidget *w : box->findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            // Read-only edits are name displays, and the line edit inside a combo or a spin box
            // belongs to it.
            if (edit->isReadOnly() || qobject_cast<QComboBox *>(w->parentWidget()) ||
                qobject_cast<QAbstractSpinBox *>(w->parentWidget()))
                continue;
            out << w;
        } else if (qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w)) {
            out << w;
        } else if (auto *button = qobject_cast<QAbstractButton *>(w);
                   button && button->isCheckable()) {
            out << w;
        }
    }
    return out;
}

} // namespace

TfrmFiltroPadrao::TfrmFiltroPadrao(const QString &screenCode, QWidget *parent)
    : QDialog(parent), m_screenCode(screenCode)
{
    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));

    auto *main = new QVBoxLayout(this);

    auto *top = new QHBoxLayout;
    top->addStretch(1);
    lblCodTela = new QLabel(screenCode, this);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    top->addWidget(lblCodTela);
    main->addLayout(top);

    grbFiltroPadrao = new QGroupBox(this);
    grbFiltroPadrao->setObjectName(QStringLiteral("grbFiltroPadrao"));
    m_criteriaLayout = new QVBoxLayout(grbFiltroPadrao);
    main->addWidget(grbFiltroPadrao, 1);

    pnlBotoes = new QFrame(this);
    pnlBotoes->setObjectName(QStringLiteral("pnlBotoes"));
    auto *buttons = new QHBoxLayout(pnlBotoes);
    buttons->setContentsMargins(0, 0, 0, 0);
    btfSaveOpc = optionButton(pnlBotoes, "btfSaveOpc", QStringLiteral("Salvar opções"),
                              QStyle::SP_DialogSaveButton);
    btfLoadOpc = optionButton(pnlBotoes, "btfLoadOpc", QStringLiteral("Carregar opções"),
                              QStyle::SP_DialogOpenButton);
    buttons->addWidget(btfSaveOpc);
    buttons->addWidget(btfLoadOpc);
    buttons->addStretch(1);
    sbtConfirma = panelButton(pnlBotoes, "sbtConfirma", QStringLiteral("Confirmar"),
                              QStyle::SP_DialogOkButton);
    sbtCancel = panelButton(pnlBotoes, "sbtCancel", QStringLiteral("Cancelar"),
                            QStyle::SP_DialogCancelButton);
    // Like the toolbar buttons, they take no focus: a click does not run the exit handler of the
    // field being typed in (the confirm checks every field itself, a cancel discards them).
    sbtConfirma->setFocusPolicy(Qt::NoFocus);
    sbtCancel->setFocusPolicy(Qt::NoFocus);
    sbtConfirma->setDefault(true); // Enter in any field confirms
    buttons->addWidget(sbtConfirma);
    buttons->addWidget(sbtCancel);
    main->addWidget(pnlBotoes);

    connect(sbtConfirma, &QPushButton::clicked, this,
            [this] { fis::guarded([this] { sbtConfirmaClick(); }); });
    connect(sbtCancel, &QPushButton::clicked, this,
            [this] { fis::guarded([this] { sbtCancelClick(); }); });
    connect(btfSaveOpc, &QToolButton::clicked, this,
            [this] { fis::guarded([this] { btfSaveOpcClick(); }); });
    connect(btfLoadOpc, &QToolButton::clicked, this,
            [this] { fis::guarded([this] { btfLoadOpcClick(); }); });
}

TfrmFiltroPadrao::~TfrmFiltroPadrao() = default;

void TfrmFiltroPadrao::create()
{
    if (m_created)
        return;
    m_created = true;
    FormCreate();
}

void TfrmFiltroPadrao::FormCreate() {}

void TfrmFiltroPadrao::FormActivate() {}

void TfrmFiltroPadrao::FormClose() {}

void TfrmFiltroPadrao::sbtConfirmaClick()
{
    QDialog::accept();
}

void TfrmFiltroPadrao::sbtCancelClick()
{
    QDialog::reject();
}

void TfrmFiltroPadrao::reject()
{
    // Escape behaves as the Cancel button, whatever the subclass does on cancel.
    fis::guarded([this] { sbtCancelClick(); });
}

QWidget *TfrmFiltroPadrao::firstControl() const
{
    for (QWidget *w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (grbFiltroPadrao->isAncestorOf(w) && w->isEnabled() && w->isVisibleTo(this) &&
            (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus)
            return w;
    }
    return nullptr;
}

void TfrmFiltroPadrao::setVisible(bool visible)
{
    if (visible && !isVisible()) {
        // While the dialog is hidden these only record where the focus and the window go when it
        // shows: no control is entered or left.
        if (QWidget *first = firstControl())
            first->setFocus(Qt::OtherFocusReason);
        if (m_placed)
            move(m_place);
    }
    QDialog::setVisible(visible);
}

void TfrmFiltroPadrao::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        m_place = pos();
        m_placed = true;
    }
}

void TfrmFiltroPadrao::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // A failed creation is tried again on the next show; activation only follows a creation
    // that ran to its end.
    if (!m_created && !fis::guarded([this] { create(); }))
        return;
    fis::guarded([this] { FormActivate(); });
}

void TfrmFiltroPadrao::closeEvent(QCloseEvent *event)
{
    // Closing the window only hides the dialog (which ends a modal display); the controls keep
    // their values for the next use. A close handler that refuses keeps the dialog open.
    if (!fis::guarded([this] { FormClose(); })) {
        event->ignore();
        return;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

namespace {

std::unique_ptr<QSettings> openSettings(const QString &file)
{
    return file.isEmpty() ? std::make_unique<QSettings>()
                          : std::make_unique<QSettings>(file, QSettings::IniFormat);
}

} // namespace

void TfrmFiltroPadrao::btfSaveOpcClick()
{
    auto settings = openSettings(m_optionsFile);
    settings->remove(QStringLiteral("OpcoesFiltro/") + m_screenCode);
    settings->beginGroup(QStringLiteral("OpcoesFiltro/") + m_screenCode);
    for (QWidget *w : optionControls(grbFiltroPadrao)) {
        const QString key = w->objectName();
        if (auto *edit = qobject_cast<QLineEdit *>(w))
            settings->setValue(key, edit->text());
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            settings->setValue(key, combo->currentIndex());
        else if (auto *date = qobject_cast<QDateTimeEdit *>(w))
            settings->setValue(key, date->dateTime());
        else if (auto *spin = qobject_cast<QSpinBox *>(w))
            settings->setValue(key, spin->value());
        else if (auto *dspin = qobject_cast<QDoubleSpinBox *>(w))
            settings->setValue(key, dspin->value());
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            settings->setValue(key, button->isChecked());
    }
    settings->endGroup();
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw std::runtime_error(QStringLiteral("Não foi possível salvar as opções do filtro em "
                                                "'%1'.")
                                     .arg(settings->fileName())
                                     .toStdString());
    fis::HostUi::instance()->message(fis::MessageKind::Information,
                                     QStringLiteral("Opções do filtro salvas."), this);
}

void TfrmFiltroPadrao::btfLoadOpcClick()
{
    auto settings = openSettings(m_optionsFile);
    settings->beginGroup(QStringLiteral("OpcoesFiltro/") + m_screenCode);
    if (settings->childKeys().isEmpty()) {
        fis::HostUi::instance()->message(fis::MessageKind::Information,
                                         QStringLiteral("Não há opções salvas para este filtro."),
                                         this);
        return;
    }
    for (QWidget *w : optionControls(grbFiltroPadrao)) {
        const QString key = w->objectName();
        if (!settings->contains(key) || !w->isEnabled())
            continue;
        const QVariant value = settings->value(key);
        if (auto *edit = qobject_cast<QLineEdit *>(w))
            edit->setText(value.toString());
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            combo->setCurrentIndex(qBound(-1, value.toInt(), combo->count() - 1));
        else if (auto *date = qobject_cast<QDateTimeEdit *>(w))
            date->setDateTime(value.toDateTime());
        else if (auto *spin = qobject_cast<QSpinBox *>(w))
            spin->setValue(value.toInt());
        else if (auto *dspin = qobject_cast<QDoubleSpinBox *>(w))
            dspin->setValue(value.toDouble());
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            button->setChecked(value.toBool());
    }
}
