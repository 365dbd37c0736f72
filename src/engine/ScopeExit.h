#pragma once
// Runs a function when the scope ends, however it ends (a cancelled thread unwinds through it).

#include <utility>

namespace lv {

template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_f;
};

} // namespace lv
