// Recognising this backend's own formats and buffers among the interface objects it is handed.
// The classes are final, so comparing the exact type is enough: one comparison of type-info
// pointers instead of dynamic_cast's walk through library code, which the capture path would
// otherwise pay several times per audio buffer. Another backend's object gives null.
#pragma once

#include <memory>
#include <type_traits>
#include <typeinfo>

namespace tovanel::platform::portable {

template <class Own, class Interface>
Own* ownObject(Interface* object) {
    static_assert(std::is_final_v<std::remove_const_t<Own>> &&
                  std::is_base_of_v<std::remove_const_t<Interface>, std::remove_const_t<Own>>);
    return object != nullptr && typeid(*object) == typeid(Own) ? static_cast<Own*>(object)
                                                               : nullptr;
}

template <class Own, class Interface>
std::shared_ptr<Own> ownObject(const std::shared_ptr<Interface>& object) {
    return ownObject<Own>(object.get()) != nullptr ? std::static_pointer_cast<Own>(object)
                                                   : nullptr;
}

} // namespace tovanel::platform::portable
