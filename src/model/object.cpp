#include "model/object.h"

int QNL_object::CleanUp(int) {
    status |= STATUS_VALID;
    return 0;
}

int QNL_object::CheckConsistency(int deep) { return QNL_object::CleanUp(deep); }

int QNL_object::CheckReadiness(int) {
    status |= STATUS_READY;
    return 0;
}
