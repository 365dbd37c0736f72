#pragma once
// The key strength meter: a small floating window beside the main window that rates the key as
// it is typed into the key sheet.

#include <QString>
#include <QWidget>

namespace lv {

class wPswdStrength : public QWidget {
    Q_OBJECT
public:
    // The open meter, or a new one (placed beside the main window).
    static wPswdStrength* instance();
    // The open meter, or null.
    static wPswdStrength* current();
    // Closes the open meter, if any.
    static void closeIfOpen();

    // Rates `key` and shows the rating.
    void Update(const QString& key);

private:
    explicit wPswdStrength(QWidget* parent = nullptr);
};

} // namespace lv
