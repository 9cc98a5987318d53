// The rules all slots of a station share: the --count of modules, and when no update may start.
#include "StationRules.h"

bool StationRules::claim() {
    if (isClosed())
        return false;
    if (limit <= 0)
        return true;
    const int mine = ++claimed;
    if (mine > limit)
        return false; // another slot took the last one at the same moment
    if (mine == limit)
        close(Closed::CountReached);
    return true;
}

void StationRules::close(Closed why) {
    int open = int(Closed::No);
    if (state.compare_exchange_strong(open, int(why)))
        emit closedNow();
}
