#include "widgets/radiogroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace fis {

RadioGroup::RadioGroup(const QString &title, QWidget *parent)
    : QGroupBox(title, parent), m_group(new QButtonGroup(this)), m_layout(new QVBoxLayout(this))
{
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit itemIndexChanged(id);
    });
}

void RadioGroup::setItems(const QStringList &items)
{
    const QList<QAbstractButton *> old = m_group->buttons();
    for (QAbstractButton *button : old) {
        m_group->removeButton(button);
        delete button;
    }
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        button->setObjectName(objectName() + QStringLiteral("Item%1").arg(i));
        m_group->addButton(button, i);
        m_layout->addWidget(button);
    }
}

QStringList RadioGroup::items() const
{
    QStringList texts;
    for (QAbstractButton *button : m_group->buttons())
        texts << button->text();
    return texts;
}

int RadioGroup::count() const
{
    return int(m_group->buttons().size());
}

int RadioGroup::ItemIndex() const
{
    return m_group->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (index == ItemIndex())
        return;
    if (QAbstractButton *button = m_group->button(index)) {
        button->setChecked(true);
        return;
    }
    // None chosen: an exclusive group keeps one checked unless exclusivity is lifted meanwhile.
    if (QAbstractButton *checked = m_group->checkedButton()) {
        m_group->setExclusive(false);
        checked->setChecked(false);
        m_group->setExclusive(true);
    }
    emit itemIndexChanged(-1);
}

} // namespace fis
