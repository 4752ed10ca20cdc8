#include "tools/capisim/ControlLine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace capisim {

static bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::optional<std::vector<std::string>> splitWords(std::string_view line, std::string *error)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                *error = "unterminated quote";
                return std::nullopt;
            }
            words.emplace_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
            if (i < line.size() && !isBlank(line[i])) {
                *error = "a quoted word must be followed by a blank";
                return std::nullopt;
            }
            continue;
        }
        const size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

std::optional<std::string> quoteWord(const std::string &word)
{
    if (word.find_first_of("\"\n") != std::string::npos) return std::nullopt;
    if (!word.empty() && word.find_first_of(" \t\r") == std::string::npos) return word;
    return '"' + word + '"';
}

std::optional<uint64_t> parseNumber(std::string_view text, uint64_t max)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        if (value > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return value;
}

std::optional<double> parseSeconds(std::string_view text, double max)
{
    // Digits and at most one point; strtod alone would take "inf", "1e9" and blanks.
    if (text.empty() || text.size() > 32 || std::count(text.begin(), text.end(), '.') > 1 ||
        text == "." || !std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || c == '.';
        }))
        return std::nullopt;
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value) || value < 0 || value > max) return std::nullopt;
    return value;
}

bool OptionSet::parse(const std::vector<std::string> &words, size_t first,
                      const std::vector<std::string> &allowed, std::string *error,
                      const std::vector<std::string> &flags)
{
    for (size_t i = first; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            positional_.push_back(word);
            continue;
        }
        const std::string name = word.substr(2);
        const bool flag = std::find(flags.begin(), flags.end(), name) != flags.end();
        if (!flag && std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            *error = "unknown option " + word;
            return false;
        }
        if (has(name)) {
            *error = "option " + word + " given twice";
            return false;
        }
        if (flag) {
            values_[name] = {};
            continue;
        }
        if (i + 1 >= words.size()) {
            *error = "option " + word + " needs a value";
            return false;
        }
        values_[name] = words[++i];
    }
    return true;
}

std::string OptionSet::value(const std::string &name, const std::string &fallback) const
{
    const auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

bool OptionSet::numberValue(const std::string &name, uint64_t max, uint64_t *out,
                            std::string *error) const
{
    if (!has(name)) return true;
    const auto value = parseNumber(values_.at(name), max);
    if (!value) {
        *error = "--" + name + " needs a number from 0 to " + std::to_string(max) + ", not '" +
                 values_.at(name) + "'";
        return false;
    }
    *out = *value;
    return true;
}

} // namespace capisim
