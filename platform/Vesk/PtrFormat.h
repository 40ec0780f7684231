// fmt support for counted references: a Ptr<T> prints as its pointee when T
// is formattable, and as "null" when empty.
#pragma once

#include <fmt/format.h>

#include <type_traits>

#include "Vesk/Ptr.h"

template <class T>
struct fmt::formatter<Vesk::Ptr<T>, char,
                      std::enable_if_t<fmt::is_formattable<std::remove_const_t<T>, char>::value>>
    : fmt::formatter<std::remove_const_t<T>, char> {
  auto format(Vesk::Ptr<T> const& pointer, fmt::format_context& context) const {
    if (!pointer) {
      return fmt::format_to(context.out(), "null");
    }
    return fmt::formatter<std::remove_const_t<T>, char>::format(*pointer, context);
  }
};
