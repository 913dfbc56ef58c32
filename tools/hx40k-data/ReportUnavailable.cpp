// Without Qt (the non-Qt builds) the tool writes no PDF; the Qt build's
// report lives in qt/.
#ifndef HX40K_DATA_PDF

#include <cstdio>

#include "StudyCommand.h"

namespace hxdata {

int reportCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "hx40k-data: report: this build has no PDF writer (it was built without Qt)\n");
    return 1;
}

}  // namespace hxdata

#endif
