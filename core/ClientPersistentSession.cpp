#include "core/ClientPersistentSession.h"

#include <QUuid>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace doorwarden {

namespace {

using Json = nlohmann::json;
using namespace std::chrono;

// 2001-01-01T00:00:00Z, the reference date of the stored time stamps.
constexpr seconds kReferenceDateSinceUnixEpoch{978'307'200};
constexpr seconds kMaximumAge{3600};
constexpr seconds kMaximumAhead{300};

double secondsSinceReferenceDate(Clock::WallTime time)
{
    return duration<double>(time.time_since_epoch() - kReferenceDateSinceUnixEpoch).count();
}

Clock::WallTime fromSecondsSinceReferenceDate(double value)
{
    return Clock::WallTime(duration_cast<Clock::WallTime::duration>(duration<double>(value) + kReferenceDateSinceUnixEpoch));
}

bool isSixDigits(const std::string& code)
{
    return code.size() == 6 && std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<ClientPersistentSession> decode(const SecretStore::Bytes& data)
{
    const Json json = Json::parse(data.begin(), data.end(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto code = json.find("sessionCode");
    const auto token = json.find("resumeToken");
    const auto updated = json.find("updatedAt");
    if (code == json.end() || !code->is_string() || token == json.end() || !token->is_string() ||
        updated == json.end() || !updated->is_number()) {
        return std::nullopt;
    }
    const double stamp = updated->get<double>();
    // Far outside any plausible time: refuse before converting, so the conversion cannot overflow.
    if (!(std::abs(stamp) < 1e11)) {
        return std::nullopt;
    }
    return ClientPersistentSession{code->get<std::string>(), token->get<std::string>(),
                                   fromSecondsSinceReferenceDate(stamp)};
}

} // namespace

void ClientPersistentSession::load(SecretStore& store, const Clock& clock, Loaded done)
{
    store.read(service, account, [&store, &clock, done = std::move(done)](std::optional<SecretStore::Bytes> data) {
        auto record = data ? decode(*data) : std::nullopt;
        const auto now = clock.wallNow();
        const bool valid = record && isSixDigits(record->sessionCode) && !record->resumeToken.empty() &&
                           record->updatedAt <= now + kMaximumAhead && now - record->updatedAt <= kMaximumAge;
        if (!valid) {
            store.remove(service, account);
            record.reset();
        }
        if (done) {
            done(std::move(record));
        }
    });
}

void ClientPersistentSession::save(SecretStore& store, const Clock& clock, const std::string& sessionCode,
                                   const std::string& resumeToken, SecretStore::WriteDone done)
{
    const Json json = {
        {"sessionCode", sessionCode},
        {"resumeToken", resumeToken},
        {"updatedAt", secondsSinceReferenceDate(clock.wallNow())},
    };
    const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    store.write(service, account, SecretStore::Bytes(text.begin(), text.end()), std::move(done));
}

void ClientPersistentSession::remove(SecretStore& store, SecretStore::RemoveDone done)
{
    store.remove(service, account, std::move(done));
}

std::string ClientPersistentSession::makeResumeToken(RandomSource& random)
{
    try {
        std::array<std::uint8_t, 32> bytes{};
        random.fill(bytes);
        return hexString(bytes, false);
    } catch (const std::exception&) {
        // Qt draws its identifiers from the kernel on its own, apart from the failed source.
        return QUuid::createUuid().toString(QUuid::Id128).toStdString();
    }
}

} // namespace doorwarden
