// The module's functions in registration blocks, in the order they are added.
#pragma once

#include <span>

#include "arg_binding.hpp"

namespace zandrel::python {

std::span<const EntryPoint> native_core_entry_points();

}  // namespace zandrel::python
