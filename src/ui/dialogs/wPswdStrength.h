#pragma once
// The key strength meter: a small floating window, "Password Strength", that rates the key as it
// is typed into the key sheet: a word in a matching colour over a bar that grows with the rating.
//
//   level  key                              word      colour   bar
//   0      empty (and a new meter)          "None"    black    empty
//   1      1 to 6 characters                "Weak"    FF0906   51 pixels
//   2      7 to 20 characters               "OK"      FFD622   101 pixels
//   3      21 characters or more            "Strong"  00B512   the whole bar (169)
//
// Characters are counted as code points. The rating is advice only: no key is ever refused for
// it. The meter opens beside the main window (400 pixels right of its content's left edge, level
// with its top) and stays where it was put. It takes no keyboard focus, so typing stays in the key
// sheet, and it shows no menu bar and answers no menu command. Closing destroys it.

#include <QLabel>
#include <QString>
#include <QWidget>

#include "ui/dialogs/SingleWindow.h"

namespace lv {

class wPswdStrength : public QWidget, public SingleWindow<wPswdStrength> {
    Q_OBJECT
public:
    enum Level : int { None = 0, Weak = 1, OK = 2, Strong = 3 };

    // instance(): the open meter, or a new one (placed beside the main window when it is shown);
    // current(): the open meter, or null.

    // Closes the open meter, if any.
    static void closeIfOpen();

    // The level of `key`, rated afresh (nothing of an earlier key stays behind).
    static Level calculateLevel(const QString& key);
    // How much of the bar a level fills, in pixels, for a bar `width` wide.
    static int barLength(int level, int width);

    // Rates `key` and shows the rating.
    void Update(const QString& key);
    int strength() const noexcept { return m_strength; }

    QLabel* StaticText1 = nullptr;
    QWidget* cpStrength = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend SingleWindow<wPswdStrength>;
    explicit wPswdStrength(QWidget* parent = nullptr);

    int m_strength = None;
    bool m_placed = false;
};

} // namespace lv
