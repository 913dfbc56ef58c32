#include "gui/CDialogStandIns.h"

#include "control/EventLoop.h"

namespace hx {

bool CDialogStandIns::runAnimalDialog(AnimalDialogModel& model) {
    bool arrived = false;
    m_endAnimal = false;
    model.refresh = [&arrived] { arrived = true; };
    m_loop.pumpUntil([&] { return arrived || m_endAnimal; }, 2000);
    model.refresh = nullptr;
    return false;
}

}  // namespace hx
