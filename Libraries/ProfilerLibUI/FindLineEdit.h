#pragma once

#include <QLineEdit>

#include <functional>

class QToolButton;

namespace Profiler {

/// The find input of every view: a line edit with a clear button inside its right edge that
/// reports the navigation keys to its owner.
class FindLineEdit : public QLineEdit {
    Q_OBJECT
public:
    enum class Key : uint8_t { Down = 0, Up = 1, Return = 2 };
    using KeyCallback = std::function<bool(Key)>;
    using ClearCallback = std::function<void()>;
    /// 0 on focus in, 1 on focus out.
    using FocusCallback = std::function<void(int)>;

    explicit FindLineEdit(QWidget* parent = nullptr);

    void SetKeyCallback(KeyCallback callback) { mKeyCallback = std::move(callback); }
    void SetClearCallback(ClearCallback callback) { mClearCallback = std::move(callback); }
    void SetFocusCallback(FocusCallback callback) { mFocusCallback = std::move(callback); }
    void EnableEscape(bool enabled = true) { mEscapeEnabled = enabled; }
    QToolButton* GetClearButton() const { return mClearButton; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* mClearButton;
    KeyCallback mKeyCallback;
    ClearCallback mClearCallback;
    FocusCallback mFocusCallback;
    bool mEscapeEnabled = false;
};

} // namespace Profiler
