#pragma once

#include "common/Status.h"

#include <cassert>
#include <optional>
#include <string>
#include <utility>

// What a step made, or the failed Status saying why it made nothing.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Status failure) : m_outcome(std::move(failure)) { assert(!m_outcome); }

    explicit operator bool() const { return m_value.has_value(); }
    const Status &Outcome() const { return m_outcome; }
    const std::string &Why() const { return m_outcome.Why(); }

    T &operator*() & { return *m_value; }
    const T &operator*() const & { return *m_value; }
    T &&operator*() && { return *std::move(m_value); }
    T *operator->() { return &*m_value; }
    const T *operator->() const { return &*m_value; }

private:
    std::optional<T> m_value;
    Status m_outcome;
};
