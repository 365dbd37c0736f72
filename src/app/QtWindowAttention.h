#pragma once
// The window's attention request (where a Mac bounces the Dock icon) and bringing every window
// of the program to the front. May be called from any thread.

#include <QObject>

#include "platform/gui/JobControls.h"

class QWidget;

namespace lv {

class QtWindowAttention : public QObject, public WindowAttention {
    Q_OBJECT
public:
    // `window`: the window whose attention is requested (the main window); may be set later.
    explicit QtWindowAttention(QObject* parent = nullptr) : QObject(parent) {}
    void setWindow(QWidget* window) { m_window = window; }

    void requestAttention() override;
    void bringAllToFront() override;

private:
    QWidget* m_window = nullptr;
};

} // namespace lv
