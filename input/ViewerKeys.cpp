#include "input/ViewerKeys.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace doorwarden::viewerKeys {

namespace {

// US positions of the letters A to Z.
constexpr std::array<std::string_view, 26> kLetters = {
    "AC01", "AB05", "AB03", "AC03", "AD03", "AC04", "AC05", "AC06", "AD08", "AC07", "AC08", "AC09", "AB07",
    "AB06", "AD09", "AD10", "AD01", "AD04", "AC02", "AD05", "AD07", "AB04", "AD02", "AB02", "AD06", "AB01",
};

// The digits 0 to 9 on the top row.
constexpr std::array<std::string_view, 10> kDigits = {
    "AE10", "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09",
};

// Every other mapped code, sorted by code.
constexpr std::pair<std::int64_t, std::string_view> kOthers[] = {
    {8, "BKSP"},   {9, "TAB"},    {13, "RTRN"},  {21, kHangul}, {27, "ESC"},   {32, "SPCE"},  {33, "PGUP"},
    {34, "PGDN"},  {35, "END"},   {36, "HOME"},  {37, "LEFT"},  {38, "UP"},    {39, "RGHT"},  {40, "DOWN"},
    {46, "DELE"},  {112, "FK01"}, {113, "FK02"}, {114, "FK03"}, {115, "FK04"}, {116, "FK05"}, {117, "FK06"},
    {118, "FK07"}, {119, "FK08"}, {120, "FK09"}, {121, "FK10"}, {122, "FK11"}, {123, "FK12"}, {186, "AC10"},
    {187, "AE12"}, {188, "AB08"}, {189, "AE11"}, {190, "AB09"}, {191, "AB10"}, {192, "TLDE"}, {219, "AD11"},
    {220, "BKSL"}, {221, "AD12"}, {222, "AC11"},
};

static_assert(std::is_sorted(std::begin(kOthers), std::end(kOthers),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

} // namespace

std::optional<std::string_view> keyName(std::int64_t windowsKeyCode)
{
    if (windowsKeyCode >= 65 && windowsKeyCode <= 90) {
        return kLetters[static_cast<std::size_t>(windowsKeyCode - 65)];
    }
    if (windowsKeyCode >= 48 && windowsKeyCode <= 57) {
        return kDigits[static_cast<std::size_t>(windowsKeyCode - 48)];
    }
    const auto found = std::lower_bound(std::begin(kOthers), std::end(kOthers), windowsKeyCode,
                                        [](const auto& entry, std::int64_t code) { return entry.first < code; });
    if (found != std::end(kOthers) && found->first == windowsKeyCode) {
        return found->second;
    }
    return std::nullopt;
}

std::optional<std::int64_t> windowsKeyCode(std::string_view name)
{
    // Every mapped code is below 256; the table is small enough to search through keyName.
    for (std::int64_t code = 0; code < 256; ++code) {
        if (keyName(code) == name) {
            return code;
        }
    }
    return std::nullopt;
}

} // namespace doorwarden::viewerKeys
