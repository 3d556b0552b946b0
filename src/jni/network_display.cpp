#include "jni/glue.h"

#include "quarn_Network.h"

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_info.h"
#include "model/submodel.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

using namespace quarn::detail;

namespace {

using Handler = QNL_submodelHandler;

QNL_network& Net(JNIEnv* env, jobject self) {
    return NetworkOf(env, self);
}

int NodeOf(JNIEnv* env, jobject self, jstring id) {
    return ResolveNodeId(env, Net(env, self), id);
}

QNL_screenInfo& ScreenOf(JNIEnv* env, jobject self, int node) {
    QNL_node* target = ValidateNodeHandle(Net(env, self), node);
    QNL_nodeInfo* info = target->GetInfo();
    if (info == nullptr)
        throw std::runtime_error(std::string("Node '") + NodeIdText(target) + "' has no header");
    return info->screen;
}

QNL_submodel& ValidateSubmodelHandle(const QNL_network& network, int handle) {
    QNL_submodel* submodel = network.GetSubmodelHandler().GetSubmodel(handle);
    if (submodel == nullptr)
        throw std::invalid_argument("Invalid submodel handle: " + std::to_string(handle));
    return *submodel;
}

QNL_submodel& SubmodelOf(JNIEnv* env, jobject self, int handle) {
    return ValidateSubmodelHandle(Net(env, self), handle);
}

int ResolveSubmodelId(JNIEnv* env, jobject self, jstring id) {
    const Handler& handler = Net(env, self).GetSubmodelHandler();
    const UtfString text(env, id, "submodel id");
    const int handle = handler.FindSubmodel(text.c_str());
    if (handle < 0) throw std::invalid_argument("Invalid submodel id: '" + text.str() + "'");
    return handle;
}

int GetMainSubmodel(JNIEnv* env, jobject self) {
    const Handler& handler = Net(env, self).GetSubmodelHandler();
    for (int h = handler.GetFirstSubmodel(); h >= 0; h = handler.GetNextSubmodel(h))
        if (h == Handler::MAIN_HANDLE) return h;
    throw std::runtime_error("Main submodel not found");
}

// The host's RGB word and the library's 0x00BBGGRR swap red and blue; alpha is not kept.
int SwapRedBlue(int v) {
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

void ColorFromJava(JNIEnv* env, jobject color, int& field) {
    if (color == nullptr) throw std::invalid_argument("Argument 'color' must not be null");
    jclass type = env->GetObjectClass(color);
    const jmethodID getRgb = env->GetMethodID(type, "getRGB", "()I");
    env->DeleteLocalRef(type);
    CheckPending(env);
    const int rgb = env->CallIntMethod(color, getRgb);
    CheckPending(env);
    field = SwapRedBlue(rgb);
}

jobject ColorToJava(JNIEnv* env, int stored) {
    jclass type = env->FindClass("java/awt/Color");
    CheckPending(env);
    const jmethodID constructor = env->GetMethodID(type, "<init>", "(I)V");
    jobject color =
        constructor != nullptr ? env->NewObject(type, constructor, SwapRedBlue(stored)) : nullptr;
    env->DeleteLocalRef(type);
    CheckPending(env);
    return color;
}

int ToInt(std::int64_t value, const char* what) {
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw std::invalid_argument(std::string(what) + " does not fit an int");
    return static_cast<int>(value);
}

// Stores the top-left corner and size as centre and size; the sums are taken in 64 bits so a
// centre beyond the int range is refused rather than wrapped.
void StorePosition(QNL_rectangle& r, int x, int y, int width, int height) {
    const int cx = ToInt(std::int64_t{x} + width / 2, "The centre of the rectangle");
    const int cy = ToInt(std::int64_t{y} + height / 2, "The centre of the rectangle");
    r.x = cx;
    r.y = cy;
    r.width = width;
    r.height = height;
}

jobject RectangleToJava(JNIEnv* env, const QNL_rectangle& r) {
    const int x = ToInt(std::int64_t{r.x} - r.width / 2, "The corner of the stored rectangle");
    const int y = ToInt(std::int64_t{r.y} - r.height / 2, "The corner of the stored rectangle");
    jclass type = env->FindClass("java/awt/Rectangle");
    CheckPending(env);
    const jmethodID constructor = env->GetMethodID(type, "<init>", "(IIII)V");
    jobject rectangle = constructor != nullptr
                            ? env->NewObject(type, constructor, x, y, r.width, r.height)
                            : nullptr;
    env->DeleteLocalRef(type);
    CheckPending(env);
    return rectangle;
}

// A text that was never set reaches the host as null.
jstring OptionalText(JNIEnv* env, const char* text) {
    return text != nullptr ? TextToJava(env, text) : nullptr;
}

template <typename Setter>
void SetHeaderText(JNIEnv* env, jobject self, int submodel, jstring value, Setter setter,
                   const char* operation, const char* argument) {
    QNL_header& header = SubmodelOf(env, self, submodel).header;
    const UtfString text(env, value, argument);
    const int status = (header.*setter)(text.c_str());
    if (status != 0) ReportError(env, status, operation);
}

} // namespace

// Node display. Colour members of the screen information, by host method.

#define QUARN_NODE_COLOR(Name, field)                                                              \
    JNIEXPORT void JNICALL Java_quarn_Network_setNode##Name##__ILjava_awt_Color_2(                 \
        JNIEnv* env, jobject self, jint node, jobject color) {                                     \
        Guarded(env, [&] { ColorFromJava(env, color, ScreenOf(env, self, node).field); });         \
    }                                                                                              \
    JNIEXPORT void JNICALL                                                                         \
        Java_quarn_Network_setNode##Name##__Ljava_lang_String_2Ljava_awt_Color_2(                  \
            JNIEnv* env, jobject self, jstring node, jobject color) {                              \
        Guarded(env, [&] {                                                                         \
            Java_quarn_Network_setNode##Name##__ILjava_awt_Color_2(                                \
                env, self, NodeOf(env, self, node), color);                                        \
        });                                                                                        \
    }                                                                                              \
    JNIEXPORT jobject JNICALL Java_quarn_Network_getNode##Name##__I(JNIEnv* env, jobject self,     \
                                                                    jint node) {                   \
        return Guarded(env, [&] { return ColorToJava(env, ScreenOf(env, self, node).field); });    \
    }                                                                                              \
    JNIEXPORT jobject JNICALL Java_quarn_Network_getNode##Name##__Ljava_lang_String_2(             \
        JNIEnv* env, jobject self, jstring node) {                                                 \
        return Guarded(env, [&] {                                                                  \
            return Java_quarn_Network_getNode##Name##__I(env, self, NodeOf(env, self, node));      \
        });                                                                                        \
    }

QUARN_NODE_COLOR(BgColor, color)
QUARN_NODE_COLOR(TextColor, fontColor)
QUARN_NODE_COLOR(BorderColor, borderColor)
#undef QUARN_NODE_COLOR

JNIEXPORT void JNICALL Java_quarn_Network_setNodePosition__IIIII(JNIEnv* env, jobject self,
                                                                 jint node, jint x, jint y,
                                                                 jint width, jint height) {
    Guarded(env, [&] { StorePosition(ScreenOf(env, self, node).position, x, y, width, height); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodePosition__Ljava_lang_String_2IIII(
    JNIEnv* env, jobject self, jstring node, jint x, jint y, jint width, jint height) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodePosition__IIIII(env, self, NodeOf(env, self, node), x, y, width,
                                                  height);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_Network_getNodePosition__I(JNIEnv* env, jobject self,
                                                                jint node) {
    return Guarded(env, [&] { return RectangleToJava(env, ScreenOf(env, self, node).position); });
}

JNIEXPORT jobject JNICALL Java_quarn_Network_getNodePosition__Ljava_lang_String_2(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodePosition__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeBorderWidth__II(JNIEnv* env, jobject self,
                                                                 jint node, jint width) {
    Guarded(env, [&] { ScreenOf(env, self, node).borderThickness = width; });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeBorderWidth__Ljava_lang_String_2I(JNIEnv* env,
                                                                                   jobject self,
                                                                                   jstring node,
                                                                                   jint width) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeBorderWidth__II(env, self, NodeOf(env, self, node), width);
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNodeBorderWidth__I(JNIEnv* env, jobject self,
                                                                jint node) {
    return Guarded(env, [&] { return ScreenOf(env, self, node).borderThickness; });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNodeBorderWidth__Ljava_lang_String_2(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodeBorderWidth__I(env, self, NodeOf(env, self, node));
    });
}

// Submodels.

JNIEXPORT jint JNICALL Java_quarn_Network_getSubmodelCount(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return Net(env, self).GetSubmodelHandler().GetNumberOfSubmodels(); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getFirstSubmodel(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return Net(env, self).GetSubmodelHandler().GetFirstSubmodel(); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNextSubmodel(JNIEnv* env, jobject self,
                                                          jint submodel) {
    return Guarded(env, [&] {
        const int next = Net(env, self).GetSubmodelHandler().GetNextSubmodel(submodel);
        return next < 0 ? -1 : next;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getSubmodel(JNIEnv* env, jobject self, jstring id) {
    return Guarded(env, [&] { return ResolveSubmodelId(env, self, id); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getMainSubmodel(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return GetMainSubmodel(env, self); });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getMainSubmodelId(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        return OptionalText(env, SubmodelOf(env, self, GetMainSubmodel(env, self)).header.GetId());
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_addSubmodel__ILjava_lang_String_2(JNIEnv* env,
                                                                            jobject self,
                                                                            jint parent,
                                                                            jstring id) {
    return Guarded(env, [&] {
        ValidateIdentifier(env, id);
        const UtfString text(env, id, "id");
        RefuseUsedSubmodelId(env, Net(env, self), text.c_str(), nullptr, -2, "CreateSubmodel");
        QNL_errorHandler::Instance().Flush();
        const int handle = Net(env, self).GetSubmodelHandler().CreateSubmodel(parent, text.c_str());
        if (handle < 0) ReportError(env, handle, "CreateSubmodel");
        return handle;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_addSubmodel__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring parent, jstring id) {
    return Guarded(env, [&] {
        const int p = ResolveSubmodelId(env, self, parent);
        return Java_quarn_Network_addSubmodel__ILjava_lang_String_2(env, self, p, id);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteSubmodel__I(JNIEnv* env, jobject self,
                                                            jint submodel) {
    Guarded(env, [&] {
        SubmodelOf(env, self, submodel);
        QNL_errorHandler::Instance().Flush();
        const int status = Net(env, self).GetSubmodelHandler().DeleteSubmodel(submodel);
        if (status != 0) ReportError(env, status, "DeleteSubmodel");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteSubmodel__Ljava_lang_String_2(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring submodel) {
    Guarded(env, [&] {
        Java_quarn_Network_deleteSubmodel__I(env, self, ResolveSubmodelId(env, self, submodel));
    });
}

// A second bearer of the identifier, submodel or node, would make lookups by identifier
// ambiguous and written files unreadable, so it is refused as addSubmodel refuses it.
JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelId(JNIEnv* env, jobject self, jint submodel,
                                                        jstring id) {
    Guarded(env, [&] {
        SubmodelOf(env, self, submodel);
        ValidateIdentifier(env, id);
        const UtfString text(env, id, "id");
        const Handler& handler = Net(env, self).GetSubmodelHandler();
        RefuseUsedSubmodelId(env, Net(env, self), text.c_str(), handler.GetSubmodel(submodel), -2,
                             "SetId");
        SetHeaderText(env, self, submodel, id, &QNL_header::SetId, "SetId", "id");
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getSubmodelId(JNIEnv* env, jobject self,
                                                           jint submodel) {
    return Guarded(
        env, [&] { return OptionalText(env, SubmodelOf(env, self, submodel).header.GetId()); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelName__ILjava_lang_String_2(JNIEnv* env,
                                                                                jobject self,
                                                                                jint submodel,
                                                                                jstring name) {
    Guarded(env, [&] {
        SetHeaderText(env, self, submodel, name, &QNL_header::SetName, "SetName", "name");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelName__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring submodel, jstring name) {
    Guarded(env, [&] {
        Java_quarn_Network_setSubmodelName__ILjava_lang_String_2(
            env, self, ResolveSubmodelId(env, self, submodel), name);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getSubmodelName__I(JNIEnv* env, jobject self,
                                                                jint submodel) {
    return Guarded(
        env, [&] { return OptionalText(env, SubmodelOf(env, self, submodel).header.GetName()); });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getSubmodelName__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring submodel) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getSubmodelName__I(env, self,
                                                     ResolveSubmodelId(env, self, submodel));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelDescription(JNIEnv* env, jobject self,
                                                                 jint submodel, jstring text) {
    Guarded(env, [&] {
        SetHeaderText(env, self, submodel, text, &QNL_header::SetComment, "SetComment",
                      "description");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelDescrpition(JNIEnv* env, jobject self,
                                                                 jstring submodel, jstring text) {
    Guarded(env, [&] {
        Java_quarn_Network_setSubmodelDescription(env, self, ResolveSubmodelId(env, self, submodel),
                                                  text);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getSubmodelDescription__I(JNIEnv* env, jobject self,
                                                                       jint submodel) {
    return Guarded(env, [&] {
        return OptionalText(env, SubmodelOf(env, self, submodel).header.GetComment());
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getSubmodelDescription__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring submodel) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getSubmodelDescription__I(env, self,
                                                            ResolveSubmodelId(env, self, submodel));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelOfNode__II(JNIEnv* env, jobject self,
                                                                jint submodel, jint node) {
    Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(Net(env, self), node);
        SubmodelOf(env, self, submodel);
        QNL_errorHandler::Instance().Flush();
        const int status = target->SetSubmodel(submodel);
        if (status != 0) ReportError(env, status, "SetSubmodel");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelOfNode__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring submodel, jstring node) {
    Guarded(env, [&] {
        const int n = NodeOf(env, self, node);
        const int s = ResolveSubmodelId(env, self, submodel);
        Java_quarn_Network_setSubmodelOfNode__II(env, self, s, n);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelOfSubmodel__II(JNIEnv* env, jobject self,
                                                                    jint parent, jint submodel) {
    Guarded(env, [&] {
        SubmodelOf(env, self, submodel);
        SubmodelOf(env, self, parent);
        QNL_errorHandler::Instance().Flush();
        const int status = Net(env, self).GetSubmodelHandler().SetSubmodel(submodel, parent);
        if (status != 0) ReportError(env, status, "SetSubmodel");
    });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setSubmodelOfSubmodel__Ljava_lang_String_2Ljava_lang_String_2(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jstring parent,
                                                                                 jstring submodel) {
    Guarded(env, [&] {
        const int s = ResolveSubmodelId(env, self, submodel);
        const int p = ResolveSubmodelId(env, self, parent);
        Java_quarn_Network_setSubmodelOfSubmodel__II(env, self, p, s);
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getSubmodelOfSubmodel__I(JNIEnv* env, jobject self,
                                                                   jint submodel) {
    return Guarded(env, [&] {
        SubmodelOf(env, self, submodel);
        return Net(env, self).GetSubmodelHandler().GetParent(submodel);
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getSubmodelOfSubmodel__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring submodel) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getSubmodelOfSubmodel__I(env, self,
                                                           ResolveSubmodelId(env, self, submodel));
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getSubmodelOfNode__I(JNIEnv* env, jobject self,
                                                               jint node) {
    return Guarded(env, [&] { return ValidateNodeHandle(Net(env, self), node)->GetSubmodel(); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getSubmodelOfNode__Ljava_lang_String_2(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getSubmodelOfNode__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelPosition__IIIII(JNIEnv* env, jobject self,
                                                                     jint submodel, jint x, jint y,
                                                                     jint width, jint height) {
    Guarded(env, [&] {
        StorePosition(SubmodelOf(env, self, submodel).screen.position, x, y, width, height);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSubmodelPosition__Ljava_lang_String_2IIII(
    JNIEnv* env, jobject self, jstring submodel, jint x, jint y, jint width, jint height) {
    Guarded(env, [&] {
        Java_quarn_Network_setSubmodelPosition__IIIII(
            env, self, ResolveSubmodelId(env, self, submodel), x, y, width, height);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_Network_getSubmodelPosition__I(JNIEnv* env, jobject self,
                                                                    jint submodel) {
    return Guarded(
        env, [&] { return RectangleToJava(env, SubmodelOf(env, self, submodel).screen.position); });
}

JNIEXPORT jobject JNICALL Java_quarn_Network_getSubmodelPosition__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring submodel) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getSubmodelPosition__I(env, self,
                                                         ResolveSubmodelId(env, self, submodel));
    });
}
