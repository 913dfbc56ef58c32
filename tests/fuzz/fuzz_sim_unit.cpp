// The simulated unit takes whatever the program sends it: control requests
// with any header and data, pipe writes of any length, raw driver requests,
// keys, plugging, and time passing, in any order. It must never crash, never
// hand out a record outside 1..64 bytes, always report a known state, keep its
// menu within range, and count exactly one activity per record in its pipe.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/VirtualClock.h"
#include "sim/SimDriver.h"

namespace {

using namespace hx;

void check(bool condition) {
    if (!condition) std::abort();
}

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_pos >= m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    int word() { return byte() | (byte() << 8); }
    std::vector<std::uint8_t> bytes(std::size_t n) {
        std::vector<std::uint8_t> out;
        while (n-- > 0 && !empty()) out.push_back(byte());
        return out;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

bool knownState(int s) { return (s >= 1 && s <= 6) || (s >= 9 && s <= 12); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    CVirtualClock clock;
    std::vector<std::uint8_t> readBack;
    {
        CSimDriver driver(clock);
        SimUnitOptions options;
        options.adjustMs = in.byte() * 20;
        options.seed = in.byte();
        options.versionText = (in.byte() & 1) ? "HX-40K V1.05" : "HX-40K V1.01";
        CSimUnit& unit = driver.addUnit(in.byte() & 0x0F, options);
        const std::string path = unit.devicePath();
        DriverHandle device = driver.open(path).value;
        DriverHandle pipeIn = driver.open(path + "\\if000pipe000").value;
        DriverHandle pipeOut = driver.open(path + "\\if000pipe001").value;

        for (int op = 0; op < 64 && !in.empty(); ++op) {
            std::size_t returned = 0;
            switch (in.byte() % 10) {
                case 0: {  // control write with the program's header
                    std::vector<std::uint8_t> buffer(16, 0);
                    buffer[0] = 0x17;
                    buffer[9] = in.byte();
                    const int value = in.word();
                    buffer[10] = static_cast<std::uint8_t>(value);
                    buffer[11] = static_cast<std::uint8_t>(value >> 8);
                    const auto extra = in.bytes(in.byte() % 24);
                    buffer.insert(buffer.end(), extra.begin(), extra.end());
                    driver.ioControl(device, kIoctlControlWrite, buffer.data(), buffer.size(), nullptr, 0,
                                     &returned);
                    break;
                }
                case 1: {  // control read
                    std::vector<std::uint8_t> header(16, 0);
                    header[0] = 0x17;
                    header[9] = in.byte();
                    std::vector<std::uint8_t> reply(in.byte() % 16);
                    if (driver.ioControl(device, kIoctlControlRead, header.data(), header.size(),
                                         reply.data(), reply.size(), &returned) == LinkError::None) {
                        check(returned <= reply.size());
                    }
                    break;
                }
                case 2: {  // any raw driver request
                    const std::uint32_t code = 0x220000u + static_cast<std::uint32_t>(in.byte() % 32);
                    const auto buffer = in.bytes(in.byte() % 40);
                    std::vector<std::uint8_t> out(in.byte() % 24);
                    const DriverHandle target = (in.byte() & 1) ? device : pipeIn;
                    if (driver.ioControl(target, code, buffer.empty() ? nullptr : buffer.data(),
                                         buffer.size(), out.empty() ? nullptr : out.data(), out.size(),
                                         &returned) == LinkError::None) {
                        check(returned <= out.size());
                    }
                    break;
                }
                case 3: {  // pipe write
                    const auto frame = in.bytes(in.byte() % 80);
                    driver.writePipe(pipeOut, frame.empty() ? nullptr : frame.data(), frame.size());
                    break;
                }
                case 4:  // time passes
                    clock.advanceTo(std::min<std::int64_t>(clock.nowMs() + in.word() % 5000, 150000));
                    break;
                case 5:  // a key at the unit
                    unit.pressKey(in.byte() % 6);
                    break;
                case 6:
                    if (unit.present()) {
                        driver.unplug(unit);
                    } else {
                        driver.replug(unit);
                        for (DriverHandle h : {device, pipeIn, pipeOut}) driver.close(h);
                        device = driver.open(path).value;
                        pipeIn = driver.open(path + "\\if000pipe000").value;
                        pipeOut = driver.open(path + "\\if000pipe001").value;
                    }
                    break;
                case 7:
                    switch (in.byte() % 4) {
                        case 0:
                            unit.pressMenuKey();
                            break;
                        case 1:
                            unit.pressAnimalKey();
                            break;
                        case 2:
                            unit.pressBrowseKey();
                            break;
                        default:
                            unit.injectReadError(in.byte() & 1);
                            break;
                    }
                    break;
                default:  // read what is there
                    while (unit.queuedRecords() > 0) {
                        readBack.assign(80, 0);
                        const PipeReadResult r = driver.readPipe(pipeIn, readBack.data(), 64);
                        if (r.error != LinkError::None) break;
                        check(r.bytes >= 1 && r.bytes <= 64);
                        clock.endActivity();
                    }
                    break;
            }
            check(!unit.present() || knownState(unit.state()));
            const SimMenu m = unit.menu();
            check(m[0] >= 0 && m[0] <= 25 && m[1] >= 0 && m[1] <= 7 && m[2] >= 0 && m[2] <= 10);
            check(m[8] >= 0 && m[8] <= 2 && m[9] >= 0 && m[9] <= 2);
            check(clock.inFlight() == static_cast<int>(unit.queuedRecords()));
        }
        for (DriverHandle h : {device, pipeIn, pipeOut}) driver.close(h);
        check(clock.inFlight() == 0);
    }
    check(clock.inFlight() == 0);
    return 0;
}
