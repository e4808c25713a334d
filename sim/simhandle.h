#pragma once

#include <hidapi/hidapi.h>

#include <QByteArray>
#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "sim/siminterface.h"

// hidapi's opaque device handle: one open of one simulated interface, with its own input buffer as a
// hidraw file descriptor has.
struct hid_device_ {
    struct Pending {
        QByteArray bytes;
        std::chrono::steady_clock::time_point readableAt;
    };

    std::shared_ptr<HidSim::SimInterface> interface;
    std::deque<Pending> input;
    bool nonBlocking = false;
    std::wstring error;
    hid_device_info* info = nullptr;
};
