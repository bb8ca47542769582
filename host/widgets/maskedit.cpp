#include "widgets/maskedit.h"

#include "widgets/errorguard.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QValidator>

namespace fis {

namespace {

// Characters with a meaning in a Qt input mask: a host literal among them must be escaped.
bool isQtMaskMeta(QChar c)
{
    static const QString meta = QStringLiteral("AaNnXx90DdHhBb#><![]{}\\;");
    return meta.contains(c);
}

bool accepts(QChar maskChar, QChar c)
{
    switch (maskChar.unicode()) {
    case '9':
    case '0':
        return c.isDigit();
    case '#':
        return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-');
    case 'A':
    case 'a':
        return c.isLetter();
    case 'N':
    case 'n':
        return c.isLetterOrNumber();
    default:
        return !c.isSpace();
    }
}

} // namespace

EditMask EditMask::parse(const QString &hostMask)
{
    EditMask m;
    if (hostMask.isEmpty())
        return m;

    // Split off the two trailing fields; a ';' escaped by '\' belongs to the mask.
    QString body;
    QStringList fields;
    for (int i = 0; i < hostMask.size(); ++i) {
        const QChar c = hostMask.at(i);
        if (c == QLatin1Char('\\') && i + 1 < hostMask.size() && fields.isEmpty()) {
            body += c;
            body += hostMask.at(++i);
        } else if (c == QLatin1Char(';')) {
            fields.append(QString());
        } else if (fields.isEmpty()) {
            body += c;
        } else {
            fields.last() += c;
        }
    }
    if (!fields.isEmpty())
        m.saveLiterals = fields.at(0).trimmed() != QLatin1String("0");
    if (fields.size() > 1 && !fields.at(1).isEmpty())
        m.blank = fields.at(1).at(0);

    for (int i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        auto position = [&](const QString &qt, bool editable, bool required) {
            m.qtMask += qt;
            m.positions += qt.back();
            m.editable.append(editable);
            m.required.append(required);
        };
        auto literal = [&](QChar l) {
            position(isQtMaskMeta(l) ? QString(QLatin1Char('\\')) + l : QString(l), false, false);
        };
        switch (c.unicode()) {
        case '!':
            break;
        case '>':
            m.qtMask += QLatin1Char('>');
            break;
        case '<':
            if (i + 1 < body.size() && body.at(i + 1) == QLatin1Char('>')) {
                m.qtMask += QLatin1Char('!');
                ++i;
            } else {
                m.qtMask += QLatin1Char('<');
            }
            break;
        case '\\':
            if (i + 1 < body.size())
                literal(body.at(++i));
            break;
        case '_':
            literal(QLatin1Char(' '));
            break;
        case '0':
            position(QStringLiteral("9"), true, true);
            break;
        case '9':
            position(QStringLiteral("0"), true, false);
            break;
        case '#':
            position(QStringLiteral("#"), true, false);
            break;
        case 'L':
            position(QStringLiteral("A"), true, true);
            break;
        case 'l':
            position(QStringLiteral("a"), true, false);
            break;
        case 'A':
            position(QStringLiteral("N"), true, true);
            break;
        case 'a':
            position(QStringLiteral("n"), true, false);
            break;
        case 'C':
            position(QStringLiteral("X"), true, true);
            break;
        case 'c':
            position(QStringLiteral("x"), true, false);
            break;
        default:
            literal(c);
            break;
        }
    }
    return m;
}

QString EditMask::textFromDisplay(const QString &display) const
{
    if (isEmpty())
        return display;
    QString out;
    for (int i = 0; i < length(); ++i) {
        const QChar c = i < display.size() ? display.at(i) : blank;
        const bool empty = editable[i] && (c == blank || c == QLatin1Char(' '));
        if (!editable[i]) {
            if (saveLiterals)
                out += c;
        } else if (!empty) {
            out += c;
        } else if (saveLiterals) {
            out += QLatin1Char(' ');
        }
    }
    return out;
}

QString EditMask::displayFromText(const QString &text) const
{
    if (isEmpty())
        return text;
    // Text with literals lines up with the positions; text without them fills the editable
    // positions in order, skipping whatever the position would not take.
    const bool aligned = saveLiterals && text.size() == length();
    QString out;
    int next = 0;
    for (int i = 0; i < length(); ++i) {
        const QChar kind = positions.at(i);
        if (!editable[i]) {
            out += kind;
            continue;
        }
        QChar c = blank;
        if (aligned) {
            c = text.at(i);
        } else {
            while (next < text.size() && !accepts(kind, text.at(next)))
                ++next;
            if (next < text.size())
                c = text.at(next++);
        }
        out += accepts(kind, c) ? c : blank;
    }
    return out;
}

MaskEdit::MaskEdit(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (onChange)
            guarded(onChange);
    });
}

void MaskEdit::setEditMask(const QString &hostMask)
{
    const QString current = Text();
    hostMask_ = hostMask;
    mask_ = EditMask::parse(hostMask);
    if (mask_.isEmpty()) {
        setInputMask(QString());
        setText(current);
        return;
    }
    setInputMask(mask_.qtMask + QLatin1Char(';') + mask_.blank);
    setMaskedText(current);
}

QString MaskEdit::Text() const
{
    return mask_.isEmpty() ? text() : mask_.textFromDisplay(displayText());
}

void MaskEdit::setUpperCase(bool on)
{
    // A validator may rewrite what is typed or pasted before the edit takes it.
    class UpperCase : public QValidator
    {
    public:
        using QValidator::QValidator;
        State validate(QString &input, int &) const override
        {
            input = input.toUpper();
            return Acceptable;
        }
    };
    upperCase_ = on;
    if (on && !validator())
        setValidator(new UpperCase(this));
    else if (!on && validator() && validator()->parent() == this)
        setValidator(nullptr);
    if (on)
        setMaskedText(Text());
}

void MaskEdit::setMaskedText(const QString &rawText)
{
    const QString text = upperCase_ ? rawText.toUpper() : rawText;
    if (mask_.isEmpty()) {
        setText(text);
        return;
    }
    const QString display = mask_.displayFromText(text);
    setText(display);
    // Typing continues at the first empty position, not behind the blanks.
    int cursor = 0;
    while (cursor < mask_.length() &&
           (!mask_.editable[cursor] || display.at(cursor) != mask_.blank))
        ++cursor;
    setCursorPosition(cursor);
}

int MaskEdit::firstFreePosition() const
{
    if (mask_.isEmpty())
        return -1;
    const QString display = displayText();
    const auto blankAt = [&](int i) {
        const QChar c = i < display.size() ? display.at(i) : mask_.blank;
        return c == mask_.blank || c == QLatin1Char(' ');
    };
    int free = -1;
    for (int i = 0; i < mask_.length(); ++i) {
        if (!mask_.editable[i])
            continue;
        if (!blankAt(i))
            free = -1;
        else if (free < 0)
            free = i;
    }
    return free;
}

void MaskEdit::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || hasSelectedText())
        return;
    const int free = firstFreePosition();
    if (free >= 0 && cursorPosition() > free)
        setCursorPosition(free);
}

bool MaskEdit::isComplete() const
{
    return mask_.isEmpty() || hasAcceptableInput();
}

// The window losing the activation (another window, a message box, the dialog hiding) or a popup
// opening over it takes the focus away without the clerk leaving the control; it gets the focus
// back the same way. Neither runs the exit and enter handlers.
static bool windowLevel(const QFocusEvent *event)
{
    return event->reason() == Qt::ActiveWindowFocusReason ||
           event->reason() == Qt::PopupFocusReason;
}

void MaskEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    const bool back = keptFocus_ && windowLevel(event);
    keptFocus_ = false;
    if (onEnter && !back)
        guarded(onEnter);
}

void MaskEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    keptFocus_ = windowLevel(event);
    if (onExit && !keptFocus_)
        guarded(onExit);
}

} // namespace fis
