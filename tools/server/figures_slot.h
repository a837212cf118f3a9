// Where the tick loop leaves its latest figures for the threads that watch it (the metrics endpoint
// and the sidecar link): one copy under a lock held only for the copy, so a reader never delays a tick.
#pragma once

#include <mutex>

#include "server_figures.h"

namespace brassmoor {

struct FiguresSlot {
    std::mutex lock;
    ServerFigures figures;
    bool sessionOver = false;  // --end-when-empty has ended the session
};

void publishFigures(FiguresSlot& slot, const ServerFigures& figures);
void publishSessionOver(FiguresSlot& slot);

struct PublishedFigures {
    ServerFigures figures;
    bool sessionOver = false;
};
PublishedFigures readFigures(FiguresSlot& slot);

}  // namespace brassmoor
