// Windows: the DNS Client service reloads the hosts file itself; its cache of earlier answers is
// flushed. Running browsers are not moved yet: they are always offered to be closed.
#include "model/SystemSeams.h"

void SetSystemLiveApply(MainSeams& seams) {
    seams.prepareLiveApply = [] {};
    seams.finishLiveApply = [](bool, bool systemFile) {
        return LiveApplyResult{LiveApplyBlock::NotOnThisSystem,
                               systemFile && !InvalidateHostsCache()};
    };
}
