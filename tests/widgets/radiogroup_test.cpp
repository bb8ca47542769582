#include "widgets/radiogroup.h"

#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using fis::RadioGroup;

TEST(RadioGroup, IndexFollowsClicksAndCodeAndMayBeNone)
{
    RadioGroup group(QStringLiteral("Status do GPS"));
    group.setObjectName(QStringLiteral("rdgStatus"));
    group.setItems(
        {QStringLiteral("Pendente"), QStringLiteral("Emitidos"), QStringLiteral("Ambos")});
    EXPECT_EQ(group.count(), 3);
    EXPECT_EQ(group.ItemIndex(), -1);
    QSignalSpy changes(&group, &RadioGroup::itemIndexChanged);

    group.setItemIndex(2);
    EXPECT_EQ(group.ItemIndex(), 2);
    auto *first = group.findChild<QRadioButton *>(QStringLiteral("rdgStatusItem0"));
    ASSERT_NE(first, nullptr);
    QTest::mouseClick(first, Qt::LeftButton, {}, first->rect().center());
    EXPECT_EQ(group.ItemIndex(), 0);

    // An index outside the items chooses none; choosing again works afterwards.
    group.setItemIndex(7);
    EXPECT_EQ(group.ItemIndex(), -1);
    group.setItemIndex(1);
    EXPECT_EQ(group.ItemIndex(), 1);
    ASSERT_EQ(changes.size(), 4);
    EXPECT_EQ(changes.at(2).at(0).toInt(), -1);

    // New items replace the old ones.
    group.setItems({QStringLiteral("Sim"), QStringLiteral("Não")});
    EXPECT_EQ(group.items(), (QStringList{QStringLiteral("Sim"), QStringLiteral("Não")}));
    EXPECT_EQ(group.ItemIndex(), -1);
}
