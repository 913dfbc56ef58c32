// The log viewer reads records from a shared block that any process of the
// user can write, and announcements from its socket: neither may be trusted.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/LogChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const auto record = hx::decodeLogRecord(data, size)) {
        if (record->text.size() > hx::kLogTextMax) std::abort();
    }
    if (const auto notice = hx::decodeLogNotice(data, size)) {
        if (size != hx::kLogNoticeSize) std::abort();
    }
    return 0;
}
