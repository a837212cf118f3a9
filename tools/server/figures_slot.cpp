// The figures slot between the tick loop and its watchers.
#include "figures_slot.h"

namespace brassmoor {

void publishFigures(FiguresSlot& slot, const ServerFigures& figures) {
    std::lock_guard<std::mutex> held(slot.lock);
    slot.figures = figures;
}

void publishSessionOver(FiguresSlot& slot) {
    std::lock_guard<std::mutex> held(slot.lock);
    slot.sessionOver = true;
}

PublishedFigures readFigures(FiguresSlot& slot) {
    std::lock_guard<std::mutex> held(slot.lock);
    return PublishedFigures{slot.figures, slot.sessionOver};
}

}  // namespace brassmoor
