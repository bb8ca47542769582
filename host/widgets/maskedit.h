#pragma once
// A line edit driven by the host's edit masks ("99;0; ", "!99/99/9999;1;_"): the mask, a ';',
// the save-literals flag ('0' keeps only the typed characters in the text read back, '1' or
// nothing keeps the literals too) and a ';' with the blank character shown in empty positions.
//
// Mask characters: '0' required digit, '9' optional digit, '#' optional digit or sign,
// 'L'/'l' required/optional letter, 'A'/'a' required/optional letter or digit, 'C'/'c'
// required/optional character, '>' upper case, '<' lower case, '<>' no case change, '\' takes the
// next character literally, '_' a blank literal, '!' (leading blanks) is accepted and ignored.
// Any other character is a literal.
#include <QLineEdit>
#include <QList>
#include <QString>

#include <functional>

namespace fis {

// The host's date mask and the text a cleared date edit reads back. The date edit shows its
// empty positions as blanks, so that what it shows and what it reads back are the same.
inline const QString kDateMask = QStringLiteral("!99/99/9999;1;_");
inline const QString kDateEditMask = QStringLiteral("!99/99/9999;1; ");
inline const QString kEmptyDateText = QStringLiteral("  /  /    ");

// A host edit mask taken apart and translated into a Qt input mask.
struct EditMask
{
    QString qtMask;           // without the blank part; empty when there is no mask
    bool saveLiterals = true; // literals kept in the text read back
    QChar blank = QLatin1Char('_');
    // Per display position: the Qt mask character where the clerk types, else the literal shown.
    QString positions;
    QList<bool> editable; // per display position: true where the clerk types
    QList<bool> required; // per display position: true where a character must be typed

    bool isEmpty() const { return editable.isEmpty(); }
    int length() const { return int(editable.size()); }

    static EditMask parse(const QString &hostMask);
    // The text read back, from the edit's display text (literals and blank characters included).
    QString textFromDisplay(const QString &display) const;
    // The display text (blank character in empty positions) that shows a read-back text.
    QString displayFromText(const QString &text) const;
};

class MaskEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit MaskEdit(QWidget *parent = nullptr);

    // Empty mask: a plain edit.
    void setEditMask(const QString &hostMask);
    QString editMask() const { return hostMask_; }
    const EditMask &mask() const { return mask_; }

    // The text as the program reads it (see the save-literals flag above).
    QString Text() const;
    void setMaskedText(const QString &text);
    // True when every required position is filled (always true without a mask).
    bool isComplete() const;
    // Upper-case edit: typed and set texts are turned to upper case.
    void setUpperCase(bool on);
    bool upperCase() const { return upperCase_; }

    // Program handlers, each run inside the error guard.
    std::function<void()> onChange; // the text changed (typed or set)
    std::function<void()> onEnter;  // the edit got the focus
    std::function<void()> onExit;   // the focus left the edit

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    // A click behind the typed characters puts the cursor at the first free position, so that
    // what is typed next is taken (a mask does not take characters past its free positions).
    void mousePressEvent(QMouseEvent *event) override;

private:
    // The first editable position still blank when every editable position after it is blank
    // too; -1 when the edit has no mask or something is typed further on.
    int firstFreePosition() const;

    QString hostMask_;
    EditMask mask_;
    bool upperCase_ = false;
    bool keptFocus_ = false; // the window lost the activation while this edit had the focus
};

} // namespace fis
