// Writes the area-code table orte.asc: every German area code (without its trunk 0) with its
// town, then every country calling code ("++" and the code) with the country's name, in German.
// The towns come from libphonenumber's offline geocoder, the country names from ICU.
//
//   mkorte [output-file]      (default: standard output)

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumberutil.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberOfflineGeocoder;
using i18n::phonenumbers::PhoneNumberUtil;

namespace {

constexpr int Germany = 49;

// Area codes are two to five digits after the trunk 0. Each five-digit start is completed with
// subscriber digits until libphonenumber accepts it as a fixed-line number, which gives the
// length of its area code and the town.
std::map<std::string, std::string> germanAreaCodes(const PhoneNumberUtil &util,
                                                   const PhoneNumberOfflineGeocoder &geocoder,
                                                   const icu::Locale &german,
                                                   const std::string &countryName)
{
    std::map<std::string, std::string> codes;
    const std::string subscriber = "2345678901";
    for (int start = 20000; start < 100000; ++start) {
        const std::string digits = std::to_string(start);
        for (size_t extra = 1; extra <= 8; ++extra) {
            const std::string national = digits + subscriber.substr(0, extra);
            PhoneNumber number;
            number.set_country_code(Germany);
            number.set_national_number(std::stoull(national));
            if (!util.IsValidNumber(number)) continue;
            const auto type = util.GetNumberType(number);
            if (type != PhoneNumberUtil::FIXED_LINE &&
                type != PhoneNumberUtil::FIXED_LINE_OR_MOBILE)
                break;
            const int length = util.GetLengthOfGeographicalAreaCode(number);
            if (length <= 0) continue; // too short to tell the area code from the subscriber number
            const std::string town = geocoder.GetDescriptionForNumber(number, german);
            // Only the country's name means the range has no town of its own (unassigned).
            if (!town.empty() && town != countryName)
                codes.emplace(national.substr(0, size_t(length)), town);
            break;
        }
    }
    return codes;
}

std::string countryName(const std::string &region, const icu::Locale &german)
{
    icu::UnicodeString name;
    icu::Locale("", region.c_str()).getDisplayCountry(german, name);
    std::string utf8;
    name.toUTF8String(utf8);
    return utf8;
}

// Where one code begins another (0212 Solingen, 02129 Haan), the longer one has to come first,
// because the first matching line wins. Ordering each code as if followed by a character above
// the digits does that and keeps the file in code order otherwise.
bool fileOrder(const std::string &a, const std::string &b)
{
    return a + '~' < b + '~';
}

} // namespace

int main(int argc, char **argv)
{
    const PhoneNumberUtil &util = *PhoneNumberUtil::GetInstance();
    const PhoneNumberOfflineGeocoder geocoder;
    const icu::Locale german("de", "DE");

    std::string region;
    util.GetRegionCodeForCountryCode(Germany, &region);
    const auto areaCodes = germanAreaCodes(util, geocoder, german, countryName(region, german));

    std::vector<std::string> prefixes;
    for (const auto &entry : areaCodes)
        prefixes.push_back(entry.first);
    std::sort(prefixes.begin(), prefixes.end(), fileOrder);

    std::ofstream file;
    if (argc > 1) {
        file.open(argv[1], std::ios::binary | std::ios::trunc);
        if (!file) {
            std::cerr << "mkorte: cannot write " << argv[1] << "\n";
            return 1;
        }
    }
    std::ostream &out = argc > 1 ? file : std::cout;
    for (const std::string &prefix : prefixes)
        out << prefix << ' ' << areaCodes.at(prefix) << '\n';

    std::set<int> callingCodes;
    util.GetSupportedCallingCodes(&callingCodes);
    std::vector<std::string> countries;
    std::map<std::string, std::string> names;
    for (const int code : callingCodes) {
        util.GetRegionCodeForCountryCode(code, &region);
        // Non-geographic codes (satellite phones, international freephone) name no country.
        if (region == "001" || region == "ZZ") continue;
        const std::string name = countryName(region, german);
        if (name.empty()) continue;
        countries.push_back(std::to_string(code));
        names[countries.back()] = name;
    }
    std::sort(countries.begin(), countries.end(), fileOrder);
    for (const std::string &code : countries)
        out << "++" << code << ' ' << names.at(code) << '\n';

    std::cerr << "mkorte: " << prefixes.size() << " area codes, " << countries.size()
              << " country codes\n";
    return out ? 0 : 1;
}
