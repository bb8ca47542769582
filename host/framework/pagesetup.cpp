#include "framework/pagesetup.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPageLayout>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace fis {

namespace {

struct Paper
{
    const char *name;
    QPageSize::PageSizeId id;
};

// The papers of a Brazilian office.
const Paper kPapers[] = {
    {"A4 (210 x 297 mm)", QPageSize::A4},        {"Carta (216 x 279 mm)", QPageSize::Letter},
    {"Ofício (216 x 356 mm)", QPageSize::Legal}, {"A5 (148 x 210 mm)", QPageSize::A5},
    {"A3 (297 x 420 mm)", QPageSize::A3},
};

} // namespace

PageSetupDialog::PageSetupDialog(QPrinter *printer, QWidget *parent)
    : QDialog(parent), m_printer(printer)
{
    setObjectName(QStringLiteral("frmConfigPagina"));
    setWindowTitle(QStringLiteral("Configurar Página"));
    const QPageLayout layout = printer->pageLayout();
    auto *main = new QVBoxLayout(this);

    auto *paperBox = new QGroupBox(QStringLiteral("Papel"), this);
    auto *paperForm = new QFormLayout(paperBox);
    m_paper = new QComboBox(paperBox);
    m_paper->setObjectName(QStringLiteral("cbbPapel"));
    for (const Paper &paper : kPapers)
        m_paper->addItem(QString::fromUtf8(paper.name), int(paper.id));
    const int current = m_paper->findData(int(layout.pageSize().id()));
    m_paper->setCurrentIndex(current >= 0 ? current : 0);
    paperForm->addRow(QStringLiteral("&Tamanho:"), m_paper);
    main->addWidget(paperBox);

    auto *orientationBox = new QGroupBox(QStringLiteral("Orientação"), this);
    auto *orientation = new QVBoxLayout(orientationBox);
    m_portrait = new QRadioButton(QStringLiteral("&Retrato"), orientationBox);
    m_portrait->setObjectName(QStringLiteral("rdbRetrato"));
    m_landscape = new QRadioButton(QStringLiteral("&Paisagem"), orientationBox);
    m_landscape->setObjectName(QStringLiteral("rdbPaisagem"));
    (layout.orientation() == QPageLayout::Landscape ? m_landscape : m_portrait)->setChecked(true);
    orientation->addWidget(m_portrait);
    orientation->addWidget(m_landscape);
    main->addWidget(orientationBox);

    auto *marginBox = new QGroupBox(QStringLiteral("Margens (mm)"), this);
    auto *margins = new QGridLayout(marginBox);
    const QMarginsF now = layout.margins(QPageLayout::Millimeter);
    const double values[4] = {now.left(), now.top(), now.right(), now.bottom()};
    const char *names[4] = {"&Esquerda:", "&Superior:", "&Direita:", "&Inferior:"};
    const char *objects[4] = {"spnEsquerda", "spnSuperior", "spnDireita", "spnInferior"};
    for (int side = 0; side < 4; ++side) {
        auto *spin = new QDoubleSpinBox(marginBox);
        spin->setObjectName(QLatin1String(objects[side]));
        spin->setRange(0, 50);
        spin->setDecimals(1);
        spin->setValue(values[side]);
        auto *label = new QLabel(QString::fromUtf8(names[side]), marginBox);
        label->setBuddy(spin);
        margins->addWidget(label, side / 2, (side % 2) * 2);
        margins->addWidget(spin, side / 2, (side % 2) * 2 + 1);
        m_margins[side] = spin;
    }
    main->addWidget(marginBox);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    main->addWidget(buttons);
}

void PageSetupDialog::accept()
{
    const QPageLayout layout(QPageSize(QPageSize::PageSizeId(m_paper->currentData().toInt())),
                             m_landscape->isChecked() ? QPageLayout::Landscape
                                                      : QPageLayout::Portrait,
                             QMarginsF(m_margins[0]->value(), m_margins[1]->value(),
                                       m_margins[2]->value(), m_margins[3]->value()),
                             QPageLayout::Millimeter);
    m_printer->setPageLayout(layout);
    QDialog::accept();
}

} // namespace fis
