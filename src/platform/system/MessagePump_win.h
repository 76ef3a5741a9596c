// Keeping a Windows thread's windows alive while it waits for something else.
#pragma once

// Dispatches what waits in this thread's queue; false once WM_QUIT was taken (it is posted again
// for the loop that owns it).
bool PumpMessages();
