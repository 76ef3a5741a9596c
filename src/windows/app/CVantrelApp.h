// The application: runs the main dialog modally; the program ends when it closes.
#pragma once

class CVantrelApp {
public:
    // Always false: there is nothing to run once the main dialog has ended.
    bool InitInstance();
};
