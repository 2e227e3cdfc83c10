#pragma once

#include <cstdint>

// The installed server version, written Major.Minor(Release.Build).
struct OrvaneServerVersion {
    std::int16_t Major = 0;
    std::int16_t Minor = 0;
    std::int16_t Release = 0;
    std::int16_t Build = 0;
};

namespace OrvaneVersion {

OrvaneServerVersion getVersion();

// The process-wide installed version that every minimum-version test compares against; all 0 until
// start-up stores what getVersion read.
void setInstalledVersion(const OrvaneServerVersion& version);
OrvaneServerVersion installedVersion();

bool bIsVersionGreaterThanOrEqualTo(std::int16_t major, std::int16_t minor, std::int16_t release,
                                    std::int16_t build);
bool bRestrictedRightsActive();

} // namespace OrvaneVersion
