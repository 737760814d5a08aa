#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace ventoral {

// Replaces `path` with `bytes` so that a reader sees the old file or the new one, never a torn
// one: a temporary file beside it, flushed, given `mode`, renamed over it, and the rename made
// durable. On failure `path` is untouched, the temporary is gone, and `error` says why.
bool writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         std::string* error = nullptr);

// The pattern of the temporary files, for callers that clear away ones an interrupted write left.
inline constexpr const char* atomicTemporarySuffix = ".tmp-";

} // namespace ventoral
