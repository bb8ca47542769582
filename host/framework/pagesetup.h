#pragma once
// The page set-up of the PDF output ("Configurar Impressora" on a machine without printers): the
// toolkit's own page set-up dialog only serves real printers. Paper, orientation and margins;
// OK applies them to the printer, Cancelar leaves it as it was.
#include <QDialog>

class QComboBox;
class QDoubleSpinBox;
class QPrinter;
class QRadioButton;

namespace fis {

class PageSetupDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PageSetupDialog(QPrinter *printer, QWidget *parent = nullptr);

    QComboBox *paper() const { return m_paper; }
    QRadioButton *portrait() const { return m_portrait; }
    QRadioButton *landscape() const { return m_landscape; }
    // Margins in millimetres: left, top, right, bottom.
    QDoubleSpinBox *margin(int side) const { return m_margins[side]; }

    void accept() override;

private:
    QPrinter *m_printer;
    QComboBox *m_paper;
    QRadioButton *m_portrait;
    QRadioButton *m_landscape;
    QDoubleSpinBox *m_margins[4];
};

} // namespace fis
