#pragma once

#include <memory>

namespace Utils {

// Mix-in of every native service class: the object can hand out shared pointers to itself, and
// `T::Shared` names the pointer type used for it everywhere (also in metatype names).
template <typename T>
class SmartType : public std::enable_shared_from_this<T> {
public:
    using Shared = std::shared_ptr<T>;

protected:
    SmartType() = default;
    ~SmartType() = default;
};

}  // namespace Utils
