// The serial control's settings for the module's line.
#include "LineSettings.h"

#include "SerialControl.h"

void ModuleLine::apply(SerialControl& control) {
    control.setInBufferSize(InBufferSize);
    control.setInputLen(InputLen);
    control.setOutBufferSize(OutBufferSize);
    control.setRThreshold(RThreshold);
}
