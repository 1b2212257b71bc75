// Summarising the slides of one package on several threads. Each slide is
// taken by whichever thread is free, the calling thread included, and each
// thread reads through a reader of its own; worker threads are started only
// when the deck's slide text is large enough to pay for them and there are
// cores for them, and joined before the walk returns.
//
// Errors: the error of the earliest slide, in the order given, whose visit
// failed, as a walk in that order would report it; slides after a known
// failure are not visited. An exception thrown by a visit is rethrown on
// the calling thread, in the same order.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

// Calls `visit(reader, position)` once for every position of `slide_parts`,
// from any thread; `reader` reads `archive`. A visit keeps what it makes in
// the caller's storage for that position.
Status visit_slides_in_parallel(const ZipReader& archive, std::span<const std::string> slide_parts,
                                const std::function<Status(const ZipReader& reader, std::size_t position)>& visit);

}  // namespace zandrel
