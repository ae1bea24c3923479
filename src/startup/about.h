// The about window's program code: its "OK" button ends the program.
#pragma once

#include "host/HostServices.h"

namespace digitmosaic {

class about final : public AboutWindowEvents {
  public:
    explicit about(HostServices& host) : host_(host) {}

    void Command1_Click() override;

  private:
    HostServices& host_;
};

}  // namespace digitmosaic
