// Linux: the privileged step that writes the file also moves the running browsers; afterwards
// their connections are listed again.
#include <memory>

#include "model/SystemSeams.h"
#include "platform/browsers/LiveApply.h"

void SetSystemLiveApply(MainSeams& seams) {
    auto run = std::make_shared<LiveApplyRun>();
    seams.prepareLiveApply = [run] { *run = PrepareLiveApply(); };
    seams.finishLiveApply = [run](bool changed, bool systemFile) {
        // A name service cache would answer from the old file for a while (the privileged helper
        // does this itself when it wrote the file; nothing to do is normal here).
        if (systemFile) InvalidateHostsCache();
        return LiveApplyResult{FinishLiveApply(*run, changed), false};
    };
}
