// The program's entry as the desktop's screen-saver host calls it: exactly "/s" runs the
// saver, exactly "/c" shows the about window, anything else (or an earlier instance still
// running) ends the program at once.
#pragma once

#include "host/HostServices.h"
#include "saver/form1.h"
#include "startup/about.h"

namespace digitmosaic {

// Returns only after opening the about window; the saver never returns.
void Main(HostServices& host, form1& saver, about& aboutBox);

}  // namespace digitmosaic
