#pragma once
// Where the unit link writes its diagnostic lines. By default they go to the
// diagnostic log channel with the kind letters N and P; a component given its
// own writer (tests, tools) sends them there instead.

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "app/LogChannel.h"

namespace hx {

using LinkLogWriter = std::function<void(std::string_view text, char kind1, char kind2)>;

inline void writeLinkLine(const LinkLogWriter& writer, std::string_view text) {
    if (writer) {
        writer(text, 'N', 'P');
    } else {
        writeLogLine(text, 'N', 'P');
    }
}

__attribute__((format(printf, 2, 3))) inline void writeLinkLinef(const LinkLogWriter& writer,
                                                                 const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    writeLinkLine(writer, text);
}

}  // namespace hx
