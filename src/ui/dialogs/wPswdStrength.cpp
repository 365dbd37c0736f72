#include "ui/dialogs/wPswdStrength.h"

#include <QPainter>

#include "ui/dialogs/DialogArtwork.h"
#include "ui/main/Resize.h"
#include "ui/main/wMain.h"

namespace lv {

namespace {

// The bar: empty, or filled from the left as far as the level reaches.
class StrengthBar : public QWidget {
public:
    explicit StrengthBar(const wPswdStrength* meter, QWidget* parent) : QWidget(parent), m_meter(meter)
    {
        setAutoFillBackground(true);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const int length = wPswdStrength::barLength(m_meter->strength(), width());
        if (length == 0) return;
        QPainter p(this);
        DialogArtwork::drawStrengthBar(p, QRect(0, 0, length, height()), m_meter->strength());
    }

private:
    const wPswdStrength* m_meter;
};

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

wPswdStrength::wPswdStrength(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                          Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("wPswdStrength"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Password Strength"));
    setFixedSize(209, 64);

    StaticText1 = new QLabel(QStringLiteral("None"), this);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setGeometry(20, 5, 100, 20);
    StaticText1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont bold = StaticText1->font();
    bold.setBold(true);
    StaticText1->setFont(bold);
    setTextColour(StaticText1, Qt::black);

    cpStrength = new StrengthBar(this, this);
    cpStrength->setObjectName(QStringLiteral("cpStrength"));
    cpStrength->setGeometry(20, 27, 169, 16);
}

void wPswdStrength::closeIfOpen()
{
    if (wPswdStrength* meter = current()) meter->close();
}

wPswdStrength::Level wPswdStrength::calculateLevel(const QString& key)
{
    // By length alone: six characters or fewer are weak however they are mixed (the key sheet
    // itself asks for more than six), seven to twenty are OK, more are strong.
    const qsizetype length = key.toUcs4().size();
    if (length == 0) return None;
    if (length <= 6) return Weak;
    if (length <= 20) return OK;
    return Strong;
}

int wPswdStrength::barLength(int level, int width)
{
    switch (level) {
    case Weak: return std::min(51, width);
    case OK: return std::min(101, width);
    case Strong: return width;
    default: return 0;
    }
}

void wPswdStrength::Update(const QString& key)
{
    m_strength = calculateLevel(key);
    struct Look {
        const char* text;
        QColor colour;
    };
    static const Look looks[] = {
        {"None", QColor(0, 0, 0)},
        {"Weak", QColor(0xFF, 0x09, 0x06)},
        {"OK", QColor(0xFF, 0xD6, 0x22)},
        {"Strong", QColor(0x00, 0xB5, 0x12)},
    };
    const Look& look = looks[m_strength];
    StaticText1->setText(QString::fromLatin1(look.text));
    setTextColour(StaticText1, look.colour);
    cpStrength->update();
}

void wPswdStrength::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_placed) return;
    m_placed = true;
    if (const wMain* main = wMain::instance()) Resize::setContentPosition(this, QPoint(main->Left() + 400, main->Top()));
}

} // namespace lv
