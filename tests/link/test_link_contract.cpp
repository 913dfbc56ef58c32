// The unit driver's contract checked against the drivers that need no device:
// the scripted driver the unit tests use and the simulated driver. (The libusb
// driver runs the same suite over an emulated unit in tests/usbemu.)

#include <memory>

#include "app/VirtualClock.h"
#include "sim/SimDriver.h"
#include "support/DriverContract.h"
#include "support/ScriptedDriver.h"

namespace hx::test {
namespace {

struct ScriptedRig : DriverRig {
    ScriptedRig() { unitPath = scripted.unit(scripted.addUnit(productId)).path; }
    IUnitDriver& driver() override { return scripted; }
    ScriptedDriver scripted;
};

struct SimRig : DriverRig {
    SimRig() {
        SimUnitOptions options;
        options.adjustMs = 0;
        unitPath = sim.addUnit(3, options).devicePath();
    }
    IUnitDriver& driver() override { return sim; }
    CVirtualClock clock;
    CSimDriver sim{clock};
};

INSTANTIATE_TEST_SUITE_P(Drivers, DriverContract,
                         ::testing::Values(RigFactory([] {
                                               return std::unique_ptr<DriverRig>(new ScriptedRig);
                                           }),
                                           RigFactory([] { return std::unique_ptr<DriverRig>(new SimRig); })),
                         [](const ::testing::TestParamInfo<RigFactory>& info) {
                             return info.index == 0 ? "Scripted" : "Simulated";
                         });

}  // namespace
}  // namespace hx::test
