#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct GeoIPTag;

// Country of an IPv4 address from the GeoIP country database, named in Chinese.
class Locator {
public:
    // nullptr when the database cannot be opened.
    static std::unique_ptr<Locator> Open(const std::string& databasePath);
    ~Locator();
    Locator(const Locator&) = delete;
    Locator& operator=(const Locator&) = delete;

    // The Chinese name of the address's country (UTF-8); empty for private, reserved and unlisted addresses.
    // Safe to call from many threads at once.
    const std::string& CountryOf(std::uint32_t address) const;

private:
    explicit Locator(GeoIPTag* database);

    GeoIPTag* database_;
    // Chinese names by the database's country number, worked out once so look-ups only read.
    std::vector<std::string> names_;
};
