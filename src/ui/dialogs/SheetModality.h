#pragma once
// A sheet's hold on the window it hangs on. While the sheet is shown, the window takes no click,
// wheel, drop or close, none of its shortcuts fires, and every key that reaches the window goes on
// to the sheet, in the order typed; when the window is activated, the sheet takes the focus back.
// A sheet that closes with the focus hands it to the window (`handFocusBack`).
//
// Qt's own window modality is not used for a sheet: it throws away every key the window system
// addressed to the window before the sheet took the focus, so a person who types on from the key
// that opened the sheet (Return on Encrypt, then the key) would lose the first letters.

#include <QObject>
#include <QPointer>

class QWidget;

namespace lv {

class SheetModality : public QObject {
    Q_OBJECT
public:
    // Holds `window` for `sheet` while the sheet is shown; owned by the sheet.
    SheetModality(QWidget* sheet, QWidget* window);

    // The window `sheet` hangs on, or null when `sheet` is no sheet.
    static QWidget* windowOf(const QWidget* sheet);

    // Gives the window the focus; for a sheet that closes while it has it.
    void handFocusBack();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool inWindow(const QObject* object) const;
    void forwardKey(QEvent* event);
    void takeFocusBack();

    QPointer<QWidget> m_sheet;
    QPointer<QWidget> m_window;
    bool m_focusQueued = false;
};

} // namespace lv
