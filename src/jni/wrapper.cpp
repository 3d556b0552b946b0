#include "jni/glue.h"

#include "quarn_Wrapper.h"

using namespace quarn::detail;

extern "C" {

JNIEXPORT void JNICALL Java_quarn_Wrapper_nativeStaticInit(JNIEnv* env, jclass wrapper) {
    Guarded(env, [&] {
        jfieldID field = env->GetFieldID(wrapper, "ptrNative", "J");
        // A missing field leaves NoSuchFieldError pending and the identifier unset, so every
        // later method refuses to run instead of reading a field that does not exist.
        if (field != nullptr) SetNativePointerField(field);
    });
}

} // extern "C"
