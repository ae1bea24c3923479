// Process entry: picks the host (the bare X11 one for the saver on an X display, Qt for the rest),
// builds the program's windows, and hands over to Main.
#include <exception>

#include "picture/PictureState.h"
#include "qt/QtHost.h"
#include "saver/form1.h"
#include "startup/Main.h"
#include "startup/about.h"
#include "system/Failure.h"
#include "x11/XcbHost.h"

namespace {

template <typename Host>
int Run(Host& host) {
    // A picture row comes every refresh: five seconds without one is a saver that has stopped.
    host.EnableWatchdog(5);
    digitmosaic::PictureState state;
    digitmosaic::form1 saver(host, state);
    digitmosaic::about aboutBox(host);
    digitmosaic::Main(host, saver, aboutBox);
    return host.RunWhileWindowsOpen();
}

bool SaverOnX11(int argc, char** argv) {
    using namespace digitmosaic;
    const HostArguments arguments = ParseHostArguments(ArgumentsOf(argc, argv));
    return arguments.argument == "/s" && SaverPaintsOnX11(HostWindowFrom(arguments));
}

}  // namespace

int main(int argc, char* argv[]) {
    digitmosaic::OpenStandardStreams();
    // An exception nothing caught (memory that could not be had, mostly) would abort.
    std::set_terminate([] { digitmosaic::Fail("out of memory"); });
    if (SaverOnX11(argc, argv)) {
        digitmosaic::XcbHost host(argc, argv);
        return Run(host);
    }
    digitmosaic::QtHost host(argc, argv);
    return Run(host);
}
