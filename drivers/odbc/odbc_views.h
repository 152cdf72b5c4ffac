// Views as one SELECT (odbc_views.cpp): the entry the driver answers to
// operation 74.
#pragma once

#include <cstdint>

#include "host/runtime/view.h"

namespace odbc {

// The view operations of nv::ViewOp over a view block. Answers 0, 33 at the
// end of the view, nv::kViewHandBack when the view cannot be one statement
// (the runtime then walks it itself), or an error: 37 when a file of the
// view is not open, 90 when the server refuses.
int ViewEntry(int32_t op, nv::ViewBlock* block);

}  // namespace odbc
