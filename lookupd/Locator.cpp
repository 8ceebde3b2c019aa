#include "Locator.h"

#include <GeoIP.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace {

// The name ICU gives a region in simplified Chinese, or empty when ICU only echoes the code back, as it
// does for the database's pseudo-countries such as "A1" (anonymous proxy) and "--".
std::string ChineseName(const char* code) {
    if (code == nullptr || code[0] == '\0' || code[0] == '-') {
        return "";
    }
    icu::UnicodeString name;
    icu::Locale("", code).getDisplayCountry(icu::Locale::getSimplifiedChinese(), name);
    std::string utf8;
    name.toUTF8String(utf8);
    return utf8 == code ? "" : utf8;
}

} // namespace

std::unique_ptr<Locator> Locator::Open(const std::string& databasePath) {
    GeoIP* database = GeoIP_open(databasePath.c_str(), GEOIP_MEMORY_CACHE | GEOIP_SILENCE);
    if (database == nullptr) {
        return nullptr;
    }
    if (GeoIP_database_edition(database) != GEOIP_COUNTRY_EDITION) {
        GeoIP_delete(database);
        return nullptr;
    }
    return std::unique_ptr<Locator>(new Locator(database));
}

Locator::Locator(GeoIPTag* database)
    : database_(database) {
    const unsigned count = GeoIP_num_countries();
    names_.reserve(count);
    for (unsigned id = 0; id < count; ++id) {
        names_.push_back(ChineseName(GeoIP_code_by_id(static_cast<int>(id))));
    }
}

Locator::~Locator() {
    GeoIP_delete(database_);
}

const std::string& Locator::CountryOf(std::uint32_t address) const {
    static const std::string none;
    // The _gl variant keeps the look-up's scratch state on the caller's stack, so threads do not share it.
    GeoIPLookup scratch{};
    const int id = GeoIP_id_by_ipnum_gl(database_, address, &scratch);
    return id > 0 && static_cast<std::size_t>(id) < names_.size() ? names_[static_cast<std::size_t>(id)] : none;
}
