#pragma once

namespace Utils {

class NoCopyable {
public:
    NoCopyable(const NoCopyable&) = delete;
    NoCopyable& operator=(const NoCopyable&) = delete;

protected:
    NoCopyable() = default;
    ~NoCopyable() = default;
};

}  // namespace Utils
