#pragma once

#include "core/smc/SMCService.h"

#include <memory>

namespace ventoral {

// The controller service this process's settings pick: the emulated controller when a machine
// profile is named, else the machine's own with its thermal channels. `SMCService::shared()`
// is one of these.
std::unique_ptr<SMCService> makeProcessSMCService();

} // namespace ventoral
