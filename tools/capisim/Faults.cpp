#include "tools/capisim/Faults.h"

#include "tools/capisim/ControlLine.h"

#include <cstdio>

namespace capisim {

static std::string hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string Faults::describe() const
{
    std::string text;
    auto add = [&text](const std::string &item) {
        if (!text.empty()) text += ',';
        text += item;
    };
    if (notInstalled) add("not-installed");
    if (lineLost) add("lose-line");
    if (registerError) add("register-error=" + hex16(registerError));
    if (listenInfo) add("listen-info=" + hex16(listenInfo));
    return text.empty() ? "none" : text;
}

bool applyFault(Faults &faults, const std::string &name, const std::string &value,
                std::string *error)
{
    const bool flag = name == "none" || name == "not-installed" || name == "lose-line";
    const bool withCode = name == "register-error" || name == "listen-info";
    if (!flag && !withCode) {
        *error = "unknown fault '" + name +
                 "' (none, not-installed, lose-line, register-error CODE, listen-info CODE)";
        return false;
    }
    if (flag && !value.empty()) {
        *error = "fault " + name + " takes no code";
        return false;
    }
    if (name == "none") {
        faults = Faults();
    } else if (name == "not-installed") {
        faults.notInstalled = true;
    } else if (name == "lose-line") {
        faults.lineLost = true;
    } else {
        // Code 0 clears this one fault.
        const auto code = parseNumber(value, 0xFFFF);
        if (!code) {
            *error = "fault " + name + " needs a code from 0 to 0xffff, not '" + value + "'";
            return false;
        }
        (name == "register-error" ? faults.registerError : faults.listenInfo) =
            static_cast<uint16_t>(*code);
    }
    return true;
}

bool parseFaultList(const std::string &text, Faults *faults, std::string *error)
{
    Faults result;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        if (!item.empty()) {
            const size_t eq = item.find('=');
            const std::string name = item.substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
            if (!applyFault(result, name, value, error)) return false;
        }
        start = end + 1;
    }
    *faults = result;
    return true;
}

} // namespace capisim
