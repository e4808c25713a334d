#pragma once

#include "common/iothersoftware.h"

namespace Common {

class OtherSoftware : public IOtherSoftware {
    Q_OBJECT

public:
    OtherSoftware();
    ~OtherSoftware() override;

    QUrl getPairwellSoftwareLink() override;
    // Reads the installed location anew at each call; does not wait for the started program.
    bool runPairwellSoftware() override;
};

}  // namespace Common
