// The dialog program with a timed Show's minute cut to a second, for the tray's end-to-end test.
#include <chrono>

#include "linux/app/CModelHost.h"
#include "linux/app/CVantrelApp.h"

int main(int argc, char** argv) {
    CModelHost::SetTimedShowMinute(std::chrono::seconds(1));
    CVantrelApp app(argc, argv);
    return app.Run();
}
