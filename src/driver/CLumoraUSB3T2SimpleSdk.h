#pragma once
// The driver object the session creates: the whole driver, closing the camera when destroyed.
#include "driver/CLumoraV3U2Base.h"

namespace lumora {

class CLumoraUSB3T2SimpleSdk final : public CLumoraV3U2Base {
public:
    CLumoraUSB3T2SimpleSdk() = default;
    ~CLumoraUSB3T2SimpleSdk() override;
};

}  // namespace lumora
