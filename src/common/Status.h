#pragma once

#include <string>
#include <utility>

// Whether a step worked, and if not, one line saying why in the user's words.
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status Failure(std::string why)
    {
        Status failed;
        failed.failed_ = true;
        failed.why_ = std::move(why);
        return failed;
    }
    explicit operator bool() const { return !failed_; }
    const std::string &Why() const { return why_; }

private:
    bool failed_ = false;
    std::string why_;
};
