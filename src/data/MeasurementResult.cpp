#include "data/MeasurementResult.h"

namespace hx {

std::string resultErrorName(int code) {
    switch (code) {
        case 0:
            return {};
        case 5:
            return "Air";
        case 16:
            return "Lo";
        case 17:
            return "Hi";
        default:
            return "Err" + std::to_string(code);
    }
}

}  // namespace hx
