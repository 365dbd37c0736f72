#include "ui/dialogs/wPswdStrength.h"

#include <QPointer>

namespace lv {

namespace {

QPointer<wPswdStrength> g_meter;

} // namespace

wPswdStrength::wPswdStrength(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Password Strength"));
    resize(209, 64);
}

wPswdStrength* wPswdStrength::instance()
{
    if (!g_meter) g_meter = new wPswdStrength;
    return g_meter;
}

wPswdStrength* wPswdStrength::current() { return g_meter; }

void wPswdStrength::closeIfOpen()
{
    if (g_meter) g_meter->close();
}

void wPswdStrength::Update(const QString&) {}

} // namespace lv
