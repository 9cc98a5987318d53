#pragma once

#include "SerialDeviceListing.h"

// The serial devices a test says are present; none unless it says so.
class FakeDeviceListing : public SerialDeviceListing {
public:
    QList<PresentDevice> devices() const override { return present; }
    QList<PresentDevice> present;
};
