#pragma once
// The program's QApplication: an exception that escapes an event handler ends in the
// application object's last-chance box instead of tearing the process down.

#include <QApplication>

namespace lv {

class LockvaneApplication : public QApplication {
public:
    LockvaneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace lv
