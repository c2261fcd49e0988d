#pragma once

#include <optional>
#include <string>
#include <utility>

namespace doorwarden {

// The outcome of starting a platform object (a capturer): it runs, or it does not and says why
// in a line for the diagnostic log. A type of its own rather than an optional error text, so
// that "no text" cannot be misread as a failure.
class [[nodiscard]] StartResult {
public:
    static StartResult success() { return StartResult(std::nullopt); }

    // `reason` is for developers, not users; an empty one is replaced so that a failure always
    // explains itself.
    static StartResult failure(std::string reason)
    {
        return StartResult(reason.empty() ? std::string("failed without a reason") : std::move(reason));
    }

    bool succeeded() const { return !reason_.has_value(); }

    // Why it failed; empty on success.
    const std::string& reason() const
    {
        static const std::string none;
        return reason_ ? *reason_ : none;
    }

private:
    explicit StartResult(std::optional<std::string> reason)
        : reason_(std::move(reason))
    {
    }

    std::optional<std::string> reason_;
};

} // namespace doorwarden
