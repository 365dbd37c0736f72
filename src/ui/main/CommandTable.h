#pragma once
// The menu commands one window (or field) answers: a handler per menu item name. A window keeps
// one and answers the menu bar's CommandTarget calls from it.

#include <QString>

#include <functional>
#include <map>

namespace lv {

class CommandTable {
public:
    using Handler = std::function<bool()>;

    void add(const QString& name, Handler handler) { m_handlers[name] = std::move(handler); }
    bool answers(const QString& name) const { return m_handlers.count(name) != 0; }
    // The handler's result; false when there is none.
    bool run(const QString& name) const
    {
        const auto it = m_handlers.find(name);
        return it != m_handlers.end() && it->second();
    }

private:
    std::map<QString, Handler> m_handlers;
};

} // namespace lv
