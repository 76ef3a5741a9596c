// The dialog program, started by the entry program (src/linux/main.cpp) with its own arguments:
// "--tray" asks for the tray, anything else for the window; the others play no further part.
#include "linux/app/CVantrelApp.h"

int main(int argc, char** argv) {
    CVantrelApp app(argc, argv);
    return app.Run();
}
