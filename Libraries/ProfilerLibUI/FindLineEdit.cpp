#include "ProfilerLibUI/FindLineEdit.h"

#include "Theming/Icons.h"

#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QToolButton>

#include <optional>

namespace Profiler {

namespace {

// A flat button that swaps between its normal, hover and pressed icons.
class ClearButton final : public QToolButton {
public:
    explicit ClearButton(QWidget* parent) : QToolButton(parent)
    {
        setAutoRaise(true);
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::NoFocus);
        setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0px; }"));
        LoadIcons();
    }

protected:
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ApplicationPaletteChange:
        case QEvent::PaletteChange:
            LoadIcons();
            break;
        case QEvent::Enter:
            setIcon(mHover);
            break;
        case QEvent::Leave:
            setIcon(mNormal);
            break;
        case QEvent::MouseButtonPress:
            setIcon(mDown);
            break;
        case QEvent::MouseButtonRelease:
            setIcon(underMouse() ? mHover : mNormal);
            break;
        default:
            break;
        }
        return QToolButton::event(event);
    }

private:
    void LoadIcons()
    {
        mNormal = GetThemedIcon(QStringLiteral(":/ProfilerLibUI/clear.png"));
        mHover = GetThemedIcon(QStringLiteral(":/ProfilerLibUI/clear_hover.png"));
        mDown = GetThemedIcon(QStringLiteral(":/ProfilerLibUI/clear_down.png"));
        setIcon(underMouse() ? mHover : mNormal);
    }

    QIcon mNormal;
    QIcon mHover;
    QIcon mDown;
};

} // namespace

FindLineEdit::FindLineEdit(QWidget* parent) : QLineEdit(parent), mClearButton(new ClearButton(this))
{
    mClearButton->setToolTip(QStringLiteral("Clear search"));
    mClearButton->hide();
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { mClearButton->setVisible(!text.isEmpty()); });
    connect(mClearButton, &QToolButton::clicked, this, [this] {
        if (mClearCallback)
            mClearCallback();
    });
}

void FindLineEdit::keyPressEvent(QKeyEvent* event)
{
    QLineEdit::keyPressEvent(event);
    std::optional<Key> key;
    switch (event->key()) {
    case Qt::Key_Down:
        key = Key::Down;
        break;
    case Qt::Key_Up:
        key = Key::Up;
        break;
    case Qt::Key_Return:
        key = Key::Return;
        break;
    case Qt::Key_Escape:
        if (mEscapeEnabled) {
            if (mClearCallback)
                mClearCallback();
            event->accept();
        }
        return;
    default:
        return;
    }
    if (mKeyCallback && mKeyCallback(*key))
        event->accept();
}

void FindLineEdit::focusInEvent(QFocusEvent* event)
{
    if (mFocusCallback)
        mFocusCallback(0);
    QLineEdit::focusInEvent(event);
}

void FindLineEdit::focusOutEvent(QFocusEvent* event)
{
    if (mFocusCallback)
        mFocusCallback(1);
    QLineEdit::focusOutEvent(event);
}

void FindLineEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    // The button is a square at the right edge; padding keeps the text from running under it.
    const int size = std::max(0, height() - 2);
    mClearButton->setIconSize(QSize(size * 2 / 3, size * 2 / 3));
    mClearButton->setGeometry(width() - size - 1, 1, size, size);
    setStyleSheet(QStringLiteral("QLineEdit { padding-right: %1px; } ").arg(size));
}

} // namespace Profiler
