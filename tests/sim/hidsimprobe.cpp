#include <hidapi/hidapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

// A stand-in for a program on the simulator: starts hidapi the way the program does (so the scenario and
// control variables are read), lists the bus and exits. With --wait-count N it first waits up to 10 s for
// N interfaces to show up, so that another process can change the bus meanwhile.
int main(int argc, char* argv[]) {
    int wanted = -1;
    if (argc == 3 && std::strcmp(argv[1], "--wait-count") == 0)
        wanted = std::atoi(argv[2]);
    if (hid_init() != 0)
        return 3;
    int count = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        count = 0;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* i = list; i; i = i->next)
            ++count;
        if (wanted < 0 || count == wanted || attempt == 999) {
            for (hid_device_info* i = list; i; i = i->next) {
                std::printf("%s %04x %04x %04x %04x %ls\n", i->path, i->vendor_id, i->product_id,
                            i->usage_page, i->usage, i->serial_number ? i->serial_number : L"(none)");
            }
            hid_free_enumeration(list);
            break;
        }
        hid_free_enumeration(list);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("count %d\n", count);
    hid_exit();
    return 0;
}
