#include "platform/hwmon/FanCalibrationStore.h"

#include "core/common/Json.h"
#include "core/helper/InstallLayout.h"
#include "platform/files/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace ventoral {
namespace {

constexpr const char* fansMember = "fans";
// Ten fans of a few dozen points each take a few kilobytes.
constexpr std::size_t maxDocumentBytes = 1 << 20;

Json encode(const FanCalibration& c) {
    Json points = Json::array();
    for (const DutyPoint& p : c.points) {
        points.push_back(Json::array({p.duty, json::encodeFloat(p.rpm, "points")}));
    }
    return Json{{"device", c.device},
                {"chip", c.chip},
                {"channel", c.channel},
                {"stopDuty", c.stopDuty ? Json(*c.stopDuty) : Json(nullptr)},
                {"startDuty", c.startDuty},
                {"minimumRPM", json::encodeFloat(c.minimumRPM, "minimumRPM")},
                {"maximumRPM", json::encodeFloat(c.maximumRPM, "maximumRPM")},
                {"points", points}};
}

int decodeDuty(const Json& value, std::string_view context) {
    auto duty = json::decodeInt64(value, context);
    if (duty < 0 || duty > FanDutyMap::fullDuty) {
        throw DecodingError(std::string(context) + ": a duty is 0 to 255");
    }
    return static_cast<int>(duty);
}

FanCalibration decode(const Json& v) {
    json::requireObject(v, "FanCalibration");
    FanCalibration c;
    c.device = json::decodeString(json::requireMember(v, "device", "FanCalibration"), "device");
    c.chip = json::decodeString(json::requireMember(v, "chip", "FanCalibration"), "chip");
    c.channel = static_cast<int>(
        json::decodeInt64(json::requireMember(v, "channel", "FanCalibration"), "channel"));
    const Json& stop = json::requireMember(v, "stopDuty", "FanCalibration");
    if (!stop.is_null()) {
        c.stopDuty = decodeDuty(stop, "stopDuty");
    }
    c.startDuty = decodeDuty(json::requireMember(v, "startDuty", "FanCalibration"), "startDuty");
    c.minimumRPM =
        json::decodeFloat(json::requireMember(v, "minimumRPM", "FanCalibration"), "minimumRPM");
    c.maximumRPM =
        json::decodeFloat(json::requireMember(v, "maximumRPM", "FanCalibration"), "maximumRPM");
    if (!(c.minimumRPM >= 0 && c.maximumRPM > c.minimumRPM)) {
        throw DecodingError("FanCalibration: the full-duty speed must exceed the slowest");
    }
    const Json& points = json::requireMember(v, "points", "FanCalibration");
    if (!points.is_array()) {
        throw DecodingError("FanCalibration.points: expected an array");
    }
    for (const Json& p : points) {
        if (!p.is_array() || p.size() != 2) {
            throw DecodingError("FanCalibration.points: each point is [duty, rpm]");
        }
        c.points.push_back({decodeDuty(p[0], "points"), json::decodeFloat(p[1], "points")});
    }
    return c;
}

} // namespace

FanDutyMap FanCalibration::dutyMap() const {
    std::vector<DutyPoint> usable{{startDuty, minimumRPM}, {FanDutyMap::fullDuty, maximumRPM}};
    for (const DutyPoint& p : points) {
        if (p.duty > startDuty && p.duty < FanDutyMap::fullDuty) {
            usable.push_back(p);
        }
    }
    return FanDutyMap(std::move(usable));
}

std::string encodeFanCalibrations(const std::vector<FanCalibration>& calibrations) {
    Json fans = Json::array();
    for (const auto& c : calibrations) {
        fans.push_back(encode(c));
    }
    return Json{{fansMember, fans}}.dump(2) + "\n";
}

std::vector<FanCalibration> decodeFanCalibrations(const std::string& bytes) {
    Json document = json::parse(bytes);
    json::requireObject(document, "fan calibrations");
    const Json& fans = json::requireMember(document, fansMember, "fan calibrations");
    if (!fans.is_array()) {
        throw DecodingError("fan calibrations.fans: expected an array");
    }
    std::vector<FanCalibration> result;
    for (const Json& entry : fans) {
        try {
            result.push_back(decode(entry));
        } catch (const DecodingError&) {
            // One damaged entry leaves its fan uncalibrated, not every fan.
        }
    }
    return result;
}

FanCalibrationStore::FanCalibrationStore(std::string path) : path_(std::move(path)) {}

std::string FanCalibrationStore::pathFor(const std::string& sysfsRoot) {
    const std::string folder =
        sysfsRoot == "/sys" ? InstalledPath::stateFolder : sysfsRoot + "/.ventoral-lib";
    return folder + "/" + InstalledPath::fanCalibrationFileName;
}

std::vector<FanCalibration> FanCalibrationStore::load() const {
    std::ifstream in(path_, std::ios::binary);
    std::string bytes;
    bytes.resize(maxDocumentBytes + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.empty() || bytes.size() > maxDocumentBytes) {
        return {};
    }
    try {
        return decodeFanCalibrations(bytes);
    } catch (const DecodingError&) {
        return {};
    }
}

bool FanCalibrationStore::save(const FanCalibration& calibration, std::string* error) const {
    std::vector<FanCalibration> all = load();
    std::erase_if(all, [&](const FanCalibration& c) {
        return c.identifies(calibration.device, calibration.chip, calibration.channel);
    });
    all.push_back(calibration);
    const std::string folder = path_.substr(0, path_.rfind('/'));
    if (::mkdir(folder.c_str(), 0755) == 0) {
        ::chmod(folder.c_str(), 0755); // whatever the umask: the application reads it as its user
    } else if (errno != EEXIST) {
        if (error) {
            *error = folder + ": " + std::strerror(errno);
        }
        return false;
    }
    // The application reads it as its user.
    return writeFileAtomically(path_, encodeFanCalibrations(all), 0644, error);
}

std::optional<std::string> FanCalibrationStore::stamp() const {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec) + ":" + std::to_string(info.st_size);
}

} // namespace ventoral
