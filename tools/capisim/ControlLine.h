#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace capisim {

// The control protocol is one request line and one reply line. A request is
// words separated by blanks; a word in double quotes may be empty or hold
// blanks ("" is an empty calling number). There are no escapes.
constexpr size_t MaxControlLine = 8192;

std::optional<std::vector<std::string>> splitWords(std::string_view line, std::string *error);
// Quotes a word for a request line when it needs it; words with '"' or line
// breaks cannot be sent and give nullopt.
std::optional<std::string> quoteWord(const std::string &word);

// Decimal or 0x hex, the whole text, at most max.
std::optional<uint64_t> parseNumber(std::string_view text, uint64_t max);
// Seconds, fractions allowed ("0.3"), 0 to max.
std::optional<double> parseSeconds(std::string_view text, double max);

// "--name value" pairs after a command word. Every option takes a value but
// the flags, which stand alone; a word that is not an option is kept as a
// positional argument.
class OptionSet
{
public:
    // allowed and flags: the option names without "--".
    bool parse(const std::vector<std::string> &words, size_t first,
               const std::vector<std::string> &allowed, std::string *error,
               const std::vector<std::string> &flags = {});

    bool has(const std::string &name) const { return values_.count(name) != 0; }
    std::string value(const std::string &name, const std::string &fallback = {}) const;
    const std::vector<std::string> &positional() const { return positional_; }

    // Reads a number option into out (left alone when the option is absent).
    template <typename T> bool number(const std::string &name, T *out, std::string *error) const
    {
        uint64_t value = 0;
        if (!numberValue(name, static_cast<uint64_t>(static_cast<T>(~T(0))), &value, error))
            return false;
        if (has(name)) *out = static_cast<T>(value);
        return true;
    }

private:
    bool numberValue(const std::string &name, uint64_t max, uint64_t *out,
                     std::string *error) const;

    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
};

} // namespace capisim
