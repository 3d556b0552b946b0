#include "quarn.h"

int main() {
    QNL_intArray handles;
    handles.Add(1);
    return QNL_errorHandler::Instance().LogError(0) == 0 && handles.GetCount() == 1 ? 0 : 1;
}
