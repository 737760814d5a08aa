#include "core/smc/FanLimits.h"

namespace ventoral {

const char* limitsSourceText(FanLimitsSource source) {
    switch (source) {
    case FanLimitsSource::driver:
        return "given by the driver";
    case FanLimitsSource::measured:
        return "measured";
    case FanLimitsSource::assumed:
        break;
    }
    return "assumed";
}

} // namespace ventoral
