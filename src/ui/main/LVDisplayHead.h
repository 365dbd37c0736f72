#pragma once
// The column titles above the item list: "Type", "Name" and "Size".

#include <QWidget>

namespace lv {

class LVDisplayHead : public QWidget {
    Q_OBJECT
public:
    explicit LVDisplayHead(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace lv
