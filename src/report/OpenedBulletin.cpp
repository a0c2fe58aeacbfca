#include "OpenedBulletin.h"

namespace {

OpenedBulletin& pendingOpened() {
    static OpenedBulletin pending;
    return pending;
}

} // namespace

void setPendingOpenedBulletin(const OpenedBulletin& bulletin) {
    pendingOpened() = bulletin;
}

OpenedBulletin takePendingOpenedBulletin() {
    OpenedBulletin taken = std::move(pendingOpened());
    pendingOpened() = OpenedBulletin();
    return taken;
}
