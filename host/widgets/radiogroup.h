#pragma once
// A titled group of radio items of which exactly one (or none, index -1) is chosen, addressed by
// index as the screens store it.
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QVBoxLayout;

namespace fis {

class RadioGroup : public QGroupBox
{
    Q_OBJECT
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE setItemIndex NOTIFY itemIndexChanged)
public:
    explicit RadioGroup(const QString &title, QWidget *parent = nullptr);

    // Replaces the items (one radio button each, named "<group>Item<N>"); none is chosen.
    void setItems(const QStringList &items);
    QStringList items() const;
    int count() const;

    // The chosen item, -1 when none.
    int ItemIndex() const;
    // Chooses the item; an index outside the items chooses none.
    void setItemIndex(int index);

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup *m_group;
    QVBoxLayout *m_layout;
};

} // namespace fis
