// Process entry: builds the Qt host and the program's windows, and hands over to Main.
#include "picture/PictureState.h"
#include "qt/QtHost.h"
#include "saver/form1.h"
#include "startup/Main.h"
#include "startup/about.h"
#include "system/Failure.h"

int main(int argc, char* argv[]) {
    digitmosaic::OpenStandardStreams();
    digitmosaic::QtHost host(argc, argv);
    // A picture row comes every refresh: five seconds without one is a saver that has stopped.
    host.EnableWatchdog(5);
    digitmosaic::PictureState state;
    digitmosaic::form1 saver(host, state);
    digitmosaic::about aboutBox(host);
    digitmosaic::Main(host, saver, aboutBox);
    return host.RunWhileWindowsOpen();
}
