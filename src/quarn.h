#pragma once

// Everything a program needs to use the library from C++.

#include "equations/random.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/object.h"
#include "model/small_array.h"
