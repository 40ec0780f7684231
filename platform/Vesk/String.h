// Vesk::String: the runtime's string type, an owned byte string.
#pragma once

#include <string>

namespace Vesk {

using String = std::string;

}  // namespace Vesk
