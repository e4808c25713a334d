#include "hiddfu/hiddfu.h"
#include "hiddfu/hiddfuimage.h"

#include "hiddfu/dfuengine.h"

using HidDfu::DfuEngine;

extern "C" {

int hidDfuConnect(int vendor_id, int product_id, int usage, int usage_page, uint16_t* count) {
    return DfuEngine::instance().connect(vendor_id, product_id, usage, usage_page, count);
}

int hidDfuDisconnect(void) {
    return DfuEngine::instance().disconnect();
}

int hidDfuUpgrade(const char* path, int /*flags*/) {
    return DfuEngine::instance().upgrade(path);
}

int hidDfuBackup(const char* path, int /*flags*/) {
    return DfuEngine::instance().backup(path);
}

int hidDfuResetDevice(void) {
    return DfuEngine::instance().resetDevice();
}

int hidDfuGetProgress(void) {
    return DfuEngine::instance().progress();
}

int hidDfuCheckImage(const char* path, int vendor_id, int product_id) {
    return DfuEngine::checkImage(path, vendor_id, product_id);
}

int hidDfuCheckImageVersion(const char* path, int vendor_id, int product_id, uint16_t* bcd_device) {
    return DfuEngine::checkImage(path, vendor_id, product_id, bcd_device);
}

int hidDfuGetResult(void) {
    return DfuEngine::instance().result();
}
}
