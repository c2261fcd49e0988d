#pragma once

#include <QByteArray>

#include <optional>
#include <utility>
#include <vector>

namespace doorwarden {

// Sets or unsets environment variables of the test process and restores them when it goes.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    ~ScopedEnvironment()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                qputenv(it->first.constData(), *it->second);
            } else {
                qunsetenv(it->first.constData());
            }
        }
    }

    void set(const char* name, const QByteArray& value)
    {
        save(name);
        qputenv(name, value);
    }

    void unset(const char* name)
    {
        save(name);
        qunsetenv(name);
    }

private:
    void save(const char* name)
    {
        saved_.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    }

    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

} // namespace doorwarden
