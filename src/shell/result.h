// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <utility>

// Why something failed: the message the user reads, naming the file (or track, or server) and giving the
// system's reason. An empty message is a failure there is nothing to say about (the user declined).
struct TFailure {
    QString Message;
};

// What a call that can fail gives back: its value, or the failure that says why. Tested as a bool; Error()
// is empty when it succeeded.
template <typename T = void> class [[nodiscard]] TResult {
public:
    TResult(T value) : m_value(std::move(value)) {}
    TResult(TFailure failure) : m_error(std::move(failure.Message)) {}

    explicit operator bool() const { return m_value.has_value(); }
    const T &operator*() const { return *m_value; }
    T &operator*() { return *m_value; }
    const T *operator->() const { return &*m_value; }
    const QString &Error() const { return m_error; }

private:
    std::optional<T> m_value;
    QString m_error;
};

// The same for a call that gives nothing back but its success.
template <> class [[nodiscard]] TResult<void> {
public:
    TResult() = default;
    TResult(TFailure failure) : m_failed(true), m_error(std::move(failure.Message)) {}

    explicit operator bool() const { return !m_failed; }
    const QString &Error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};
