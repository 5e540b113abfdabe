// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>

namespace torvak {

// The outcome of one step: success, or the reason it failed in words an
// operator can act on ("permission denied: ...", "the port is not open").
class Status {
public:
    static Status success() { return Status{}; }
    static Status failure(std::string reason)
    {
        Status s;
        s.reason_ = reason.empty() ? std::string("failed") : std::move(reason);
        return s;
    }

    bool ok() const { return reason_.empty(); }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// A value read from something that can fail (a stored number, the port's state).
template <typename T>
struct Checked {
    Status status;
    T value{};

    static Checked of(T v) { return Checked{Status::success(), std::move(v)}; }
    static Checked failed(std::string reason) { return Checked{Status::failure(std::move(reason)), T{}}; }
};

} // namespace torvak
