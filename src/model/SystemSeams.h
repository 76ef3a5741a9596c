// The model's seams on this system: the hosts file, the live apply, the lookups and the browsers'
// processes. The shell that makes the model adds its executor and its timer.
#pragma once

#include "model/MainModel.h"

// Every seam but runOffThread and wantTicks (and the optional notify and quietPrompts).
MainSeams SystemSeams();
// The live apply around a press: on Linux the privileged step and the check of the browsers'
// connections afterwards; on Windows the resolver cache's flush, and the browsers are always
// offered to be closed.
void SetSystemLiveApply(MainSeams& seams);
