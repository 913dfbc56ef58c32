#include "analysis/OscillometricAnalysis.h"

namespace hx {

COscillometricAnalysis::COscillometricAnalysis() { m_curve.fill(kNoValue); }

void COscillometricAnalysis::analyse(const Ring& pressure, const Ring& wave, int errorCode) {
    m_pressure = pressure;
    m_wave = wave;
    (void)errorCode;
}

}  // namespace hx
