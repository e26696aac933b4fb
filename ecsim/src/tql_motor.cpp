#include "ecsim/tql_motor.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace ecsim {

namespace {

constexpr int32_t kUnlockA = 358;
constexpr int32_t kUnlockB = 6042;
constexpr int kSpeedParam = 20;

constexpr std::string_view kErrCommand = "E:CMD";
constexpr std::string_view kErrValue = "E:VAL";

// Queries "?n.1": type and version, and what a user asks of a moving motor.
constexpr int kQueryIdentity = 99;
constexpr int kQueryPosition = 96;
constexpr int kQueryVelocity = 97;

// Factory settings; the rest of K1..K99 start at 0 (K20 = 0: 38400 bit/s).
struct Default {
    int param;
    int32_t value;
};
constexpr Default kDefaults[] = {{16, 2}, {23, 5}, {37, 20}, {47, 30}, {67, 0}, {70, 1}};

std::string_view trim(std::string_view s) {
    constexpr std::string_view kBlank = " \t\r\n";
    const size_t first = s.find_first_not_of(kBlank);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlank) - first + 1);
}

// A whole decimal integer that fits 32 bits, optional sign.
std::optional<int32_t> parseInt(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

// Unsigned digits only (parameter numbers, IDs).
std::optional<int> parseNumber(std::string_view s) {
    if (s.empty() || s.size() > 3 ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return *parseInt(s);
}

}  // namespace

SerialSpeed channelSpeed(uint32_t code) {
    switch (code) {
        case 0:
            return SerialSpeed::Baud38400;
        case 6:
            return SerialSpeed::Baud170k;
        case 3:
            return SerialSpeed::Third;
        default:
            return SerialSpeed::Unusable;
    }
}

SerialSpeed motorSpeed(MotorKind kind, int32_t k20) {
    if (k20 == 0) return SerialSpeed::Baud38400;
    if (k20 == 3) return SerialSpeed::Third;
    if (k20 == (kind == MotorKind::A ? 6 : 8)) return SerialSpeed::Baud170k;
    return SerialSpeed::Unusable;
}

TqlMotor::TqlMotor(MotorKind kind) : kind_(kind) {
    for (const Default& d : kDefaults) params_[d.param] = d.value;
}

int32_t TqlMotor::param(int n) const {
    return n >= kFirstParam && n <= kLastParam ? params_[n] : 0;
}

void TqlMotor::setParam(int n, int32_t value) {
    if (n >= kFirstParam && n <= kLastParam) params_[n] = value;
}

std::vector<std::string> TqlMotor::runLine(std::string_view line) {
    std::vector<std::string> replies;
    size_t start = 0;
    while (start <= line.size()) {
        const size_t comma = std::min(line.find(',', start), line.size());
        const std::string_view command = trim(line.substr(start, comma - start));
        if (!command.empty()) runCommand(command, replies);
        start = comma + 1;
    }
    return replies;
}

void TqlMotor::runCommand(std::string_view command, std::vector<std::string>& replies) {
    std::string text(command);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const char op = text.front();
    std::string_view rest = std::string_view(text).substr(1);

    std::optional<std::string_view> value;
    if (const size_t eq = rest.find('='); eq != std::string_view::npos) {
        value = rest.substr(eq + 1);
        rest = rest.substr(0, eq);
    }
    const size_t dot = rest.find('.');
    if (dot == std::string_view::npos) {
        replies.emplace_back(kErrCommand);
        return;
    }
    const std::string_view numberText = rest.substr(0, dot);
    const std::optional<int> id = parseNumber(rest.substr(dot + 1));
    const std::optional<int> number = parseNumber(numberText);
    const bool wellFormed =
        id && ((op == '?' && number && !value) || (op == 'W' && numberText.empty() && value) ||
               (op == 'K' && number && *number >= kFirstParam && *number <= kLastParam));
    if (!wellFormed) {
        replies.emplace_back(kErrCommand);
        return;
    }
    // Every motor is ID 1 of its own channel; other IDs address nobody here.
    if (*id != 1) return;

    switch (op) {
        case '?':
            runQuery(*number, replies);
            return;
        case 'W': {
            const std::optional<int32_t> word = parseInt(*value);
            if (!word) {
                replies.emplace_back(kErrValue);
                return;
            }
            locked_ = *word != (kind_ == MotorKind::A ? kUnlockA : kUnlockB);
            return;
        }
        default:
            if (value) {
                runParameter(*number, *value, replies);
            } else {
                replies.push_back("K" + std::to_string(*number) +
                                  ".1=" + std::to_string(params_[*number]));
            }
            return;
    }
}

void TqlMotor::runQuery(int code, std::vector<std::string>& replies) const {
    switch (code) {
        case kQueryIdentity:
            replies.emplace_back(kind_ == MotorKind::A ? "Ux=TQ-A 2.10" : "Ux=TQ-B 3.04");
            return;
        case kQueryPosition:
            replies.push_back("Px=" + std::to_string(position_));
            return;
        case kQueryVelocity:
            replies.push_back("Vx=" + std::to_string(velocity_));
            return;
        default:
            replies.emplace_back(kErrCommand);
    }
}

void TqlMotor::runParameter(int n, std::string_view value, std::vector<std::string>& replies) {
    if (locked_) return;  // a locked motor ignores settings without a word
    const std::optional<int32_t> v = parseInt(value);
    if (!v || (n == kSpeedParam && motorSpeed(kind_, *v) == SerialSpeed::Unusable)) {
        replies.emplace_back(kErrValue);
        return;
    }
    params_[n] = *v;
}

}  // namespace ecsim
