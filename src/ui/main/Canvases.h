#pragma once
// The painted controls of the main window: the drop zone, the bottom bar, the picture buttons and
// the line under the list.

#include <QWidget>

#include <vector>

#include "platform/FolderItem.h"
#include "ui/main/Artwork.h"

namespace lv {

// The drop zone (cBack): takes files and folders dropped from a file manager.
class DropZoneCanvas : public QWidget {
    Q_OBJECT
public:
    explicit DropZoneCanvas(QWidget* parent = nullptr);
    void setPicture(Artwork::DropZone picture);
    Artwork::DropZone picture() const noexcept { return m_picture; }

signals:
    // The dropped items in drag order; `link` for a link drag.
    void dropped(const std::vector<lv::FolderItem>& items, bool link);

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void restPicture();
    Artwork::DropZone m_picture = Artwork::DropZone::Active;
};

// The bar along the bottom edge (cBorder).
class BottomBar : public QWidget {
    Q_OBJECT
public:
    explicit BottomBar(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A picture that acts as a button (cbAdd, cbMinus, cbAction): it shows its pressed picture from
// the press until the release, and reports the release wherever the pointer is then.
class PictureButton : public QWidget {
    Q_OBJECT
public:
    PictureButton(Artwork::Button kind, QWidget* parent = nullptr);
    bool isPressed() const noexcept { return m_pressed; }
    void setPressed(bool pressed);

signals:
    void mouseDown();
    void mouseUp();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Artwork::Button m_kind;
    bool m_pressed = false;
};

// Canvas1: draws only the grey line under the list; lets every click through.
class ListLineCanvas : public QWidget {
    Q_OBJECT
public:
    explicit ListLineCanvas(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace lv
