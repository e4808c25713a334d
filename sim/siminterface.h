#pragma once

#include <chrono>
#include <condition_variable>
#include <vector>

#include "sim/hidsim.h"

struct hid_device_;

namespace HidSim {

class SimDevice;

// One HID interface for as long as its device keeps the identity it came with. Open handles share it, so
// a handle outlives an unplug and then fails instead of touching a freed device.
struct SimInterface {
    Interface id;
    int number = 0;
    SimDevice* device = nullptr;  // null once off the bus
    std::condition_variable inputArrived;
    std::vector<hid_device_*> handles;
    std::chrono::steady_clock::time_point nextSlot;
};

}  // namespace HidSim
