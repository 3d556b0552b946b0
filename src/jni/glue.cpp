#include "jni/glue.h"

#include "definitions/node_value.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/submodel.h"
#include "numerics/utf8.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace quarn::detail {

namespace {

jfieldID nativePointerField = nullptr;

std::string OutcomeCountText(int count) {
    std::string text;
    AppendInt(text, count - 1);
    return text;
}

} // namespace

void SetNativePointerField(jfieldID field) {
    nativePointerField = field;
}

void CheckPending(JNIEnv* env) {
    if (env->ExceptionCheck()) throw JavaExceptionPending{};
}

jlong GetNativePointer(JNIEnv* env, jobject object) {
    if (nativePointerField == nullptr)
        throw std::runtime_error("The native library is not initialised: quarn.Wrapper was not "
                                 "loaded");
    if (object == nullptr) throw std::invalid_argument("The host object must not be null");
    const jlong address = env->GetLongField(object, nativePointerField);
    if (address == 0)
        throw std::invalid_argument("The native object does not exist (it was deleted or "
                                    "never created)");
    return address;
}

QNL_network& NetworkOf(JNIEnv* env, jobject network) {
    return *reinterpret_cast<QNL_network*>(GetNativePointer(env, network));
}

QNL_network& GetNetworkOfWrapper(JNIEnv* env, jobject object) {
    if (object == nullptr) throw std::invalid_argument("The host object must not be null");
    LocalRef type(env, env->GetObjectClass(object));
    jfieldID field = env->GetFieldID(static_cast<jclass>(type.get()), "net", "Lquarn/Network;");
    CheckPending(env);
    LocalRef network(env, env->GetObjectField(object, field));
    if (network.get() == nullptr)
        throw std::invalid_argument("The object is not attached to a network");
    return NetworkOf(env, network.get());
}

void RefuseUsedSubmodelId(JNIEnv* env, const QNL_network& network, const char* id,
                          const QNL_submodel* keeping, int code, const char* operation) {
    const QNL_submodelHandler& handler = network.GetSubmodelHandler();
    const int owner = handler.FindSubmodel(id);
    if (network.FindNode(id) < 0 && (owner < 0 || handler.GetSubmodel(owner) == keeping)) return;
    QNL_errorHandler::Instance().Flush();
    ReportError(env, code, operation);
}

namespace {

// The field Network.users, the count of ValueOfInfo and DiagNetwork objects on a network.
jfieldID UsersField(JNIEnv* env, jobject network) {
    LocalRef type(env, env->GetObjectClass(network));
    jfieldID field = env->GetFieldID(type.type(), "users", "I");
    CheckPending(env);
    return field;
}

} // namespace

void RefuseWhileHeld(JNIEnv* env, jobject network, const char* what) {
    if (NetworkUsers(env, network) > 0)
        throw std::runtime_error(std::string("The network is used by a ValueOfInfo or "
                                             "DiagNetwork object: close it before ") +
                                 what);
}

int NetworkUsers(JNIEnv* env, jobject network) {
    return env->GetIntField(network, UsersField(env, network));
}

bool TakeNativePointer(JNIEnv* env, jobject object, jlong address) {
    if (nativePointerField == nullptr || env->GetLongField(object, nativePointerField) != address)
        return false;
    env->SetLongField(object, nativePointerField, 0);
    return true;
}

void ChangeNetworkUsers(JNIEnv* env, jobject network, int delta) {
    if (network == nullptr) throw std::invalid_argument("The object is not attached to a network");
    const jfieldID field = UsersField(env, network);
    env->SetIntField(network, field, env->GetIntField(network, field) + delta);
}

void ChangeNetworkUsersOfWrapper(JNIEnv* env, jobject object, int delta) {
    if (object == nullptr) throw std::invalid_argument("The host object must not be null");
    LocalRef type(env, env->GetObjectClass(object));
    jfieldID field = env->GetFieldID(type.type(), "net", "Lquarn/Network;");
    CheckPending(env);
    LocalRef network(env, env->GetObjectField(object, field));
    ChangeNetworkUsers(env, network.get(), delta);
}

jobject NewJavaNetwork(JNIEnv* env) {
    LocalRef type(env, env->FindClass("quarn/Network"));
    CheckPending(env);
    jmethodID constructor = env->GetMethodID(static_cast<jclass>(type.get()), "<init>", "()V");
    CheckPending(env);
    jobject network = env->NewObject(static_cast<jclass>(type.get()), constructor);
    CheckPending(env);
    return network;
}

std::u16string LibraryTextToUtf16(const char* text) {
    std::u16string out;
    if (text == nullptr) return out;
    const std::string_view bytes(text);
    for (std::size_t i = 0; i < bytes.size();) {
        const char32_t cp = DecodeCodePoint(bytes, i);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::size_t FindLoneSurrogate(std::u16string_view units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit < 0xD800 || unit > 0xDFFF) continue;
        if (unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        return i;
    }
    return std::u16string_view::npos;
}

std::string Utf16ToLibraryText(const char16_t* units, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form (UtfString refuses one first)
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ToModifiedUtf8(const std::string& text) {
    const std::u16string units = LibraryTextToUtf16(text.c_str());
    std::string out;
    out.reserve(units.size());
    // U+0000 takes its two-byte form and surrogates are encoded one by one, as modified
    // UTF-8 wants.
    for (char16_t unit : units) {
        if (unit == 0) {
            out += static_cast<char>(0xC0);
            out += static_cast<char>(0x80);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

jstring TextToJava(JNIEnv* env, const char* text) {
    const std::u16string units = LibraryTextToUtf16(text);
    jstring result = env->NewString(reinterpret_cast<const jchar*>(units.data()),
                                    static_cast<jsize>(units.size()));
    CheckPending(env);
    return result;
}

UtfString::UtfString(JNIEnv* env, jstring string, const char* argument) {
    if (string == nullptr)
        throw std::invalid_argument(std::string("Argument '") + argument + "' must not be null");
    const jsize length = env->GetStringLength(string);
    std::u16string units(static_cast<std::size_t>(length), u'\0');
    env->GetStringRegion(string, 0, length, reinterpret_cast<jchar*>(units.data()));
    CheckPending(env);
    if (units.find(u'\0') != std::u16string::npos)
        throw std::invalid_argument(std::string("Argument '") + argument +
                                    "' must not contain the character U+0000");
    // A lone surrogate stands for no character: taking it as U+FFFD would store other text
    // than the caller gave.
    const std::size_t lone = FindLoneSurrogate(units);
    if (lone != std::u16string::npos) {
        char unit[8];
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(units[lone]));
        throw std::invalid_argument(std::string("Argument '") + argument +
                                    "' is not valid UTF-16: a lone surrogate U+" + unit +
                                    " at index " + std::to_string(lone));
    }
    text = Utf16ToLibraryText(units.data(), units.size());
}

jintArray IntArrayToJava(JNIEnv* env, const QNL_intArray& items) {
    const int count = items.GetCount();
    jintArray result = env->NewIntArray(count);
    CheckPending(env);
    if (count > 0) env->SetIntArrayRegion(result, 0, count, items.Items());
    return result;
}

jdoubleArray DoubleArrayToJava(JNIEnv* env, const double* items, int count) {
    jdoubleArray result = env->NewDoubleArray(count);
    CheckPending(env);
    if (count > 0) env->SetDoubleArrayRegion(result, 0, count, items);
    return result;
}

jdoubleArray DoubleArrayToJava(JNIEnv* env, const QNL_doubleArray& items) {
    return DoubleArrayToJava(env, items.Items(), items.GetCount());
}

namespace {

// A String[] of count elements, element i = text(i).
template <typename TextAt> jobjectArray TextsToJava(JNIEnv* env, int count, TextAt&& text) {
    LocalRef type(env, env->FindClass("java/lang/String"));
    CheckPending(env);
    jobjectArray result = env->NewObjectArray(count, static_cast<jclass>(type.get()), nullptr);
    CheckPending(env);
    for (int i = 0; i < count; ++i) {
        LocalRef element(env, TextToJava(env, text(i)));
        env->SetObjectArrayElement(result, i, element.get());
        CheckPending(env);
    }
    return result;
}

} // namespace

jobjectArray StringArrayToJava(JNIEnv* env, const QNL_stringArray& items) {
    return TextsToJava(env, items.GetCount(), [&](int i) { return items.GetString(i); });
}

jobjectArray EmptyStringArray(JNIEnv* env) {
    return TextsToJava(env, 0, [](int) { return ""; });
}

jobjectArray NodeIdsToJava(JNIEnv* env, const QNL_network& network, const QNL_intArray& nodes) {
    return TextsToJava(env, nodes.GetCount(),
                       [&](int i) { return NodeIdText(network.GetNode(nodes[i])); });
}

const char* NodeIdText(const QNL_node* node) {
    const char* id = node != nullptr ? node->GetId() : nullptr;
    return id != nullptr ? id : "";
}

void AppendInt(std::string& text, int value) {
    text += std::to_string(value);
}

QNL_node* ValidateNodeHandle(const QNL_network& network, int handle) {
    QNL_node* node = network.GetNode(handle);
    if (node == nullptr) {
        std::string message = "Invalid node handle: ";
        AppendInt(message, handle);
        throw std::invalid_argument(message);
    }
    return node;
}

int ResolveNodeId(JNIEnv* env, const QNL_network& network, jstring id) {
    const UtfString text(env, id, "node id");
    const int handle = network.FindNode(text.c_str());
    if (handle < 0) throw std::invalid_argument("Invalid node id: " + text.str());
    return handle;
}

QNL_node* ValidateOutcomeIndex(const QNL_network& network, int node, int outcome) {
    QNL_node* target = ValidateNodeHandle(network, node);
    const QNL_nodeDefinition* definition = target->GetDefinition();
    // A node without outcomes (a utility, an equation) answers the count with an error code.
    const int count = definition != nullptr ? std::max(definition->GetNumberOfOutcomes(), 0) : 0;
    if (outcome < 0 || outcome >= count) {
        std::string message = "Invalid outcome index ";
        AppendInt(message, outcome);
        message += " for node '";
        message += NodeIdText(target);
        if (count == 0) {
            message += "': the node has no outcomes";
        } else {
            message += "', valid indices are 0..";
            message += OutcomeCountText(count);
        }
        throw std::invalid_argument(message);
    }
    return target;
}

int ResolveOutcomeId(JNIEnv* env, const QNL_network& network, int node, jstring id) {
    QNL_node* target = ValidateNodeHandle(network, node);
    const UtfString text(env, id, "outcome id");
    const QNL_nodeDefinition* definition = target->GetDefinition();
    const QNL_idArray* ids = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
    const int position = ids != nullptr ? ids->FindPosition(text.c_str()) : -2;
    if (position < 0)
        throw std::invalid_argument("Invalid outcome identifier '" + text.str() + "' for node '" +
                                    NodeIdText(target) + "'");
    return position;
}

void ValidateIdentifier(JNIEnv* env, jstring id) {
    const UtfString text(env, id, "id");
    const std::string& s = text.str();
    auto letter = [](unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    bool valid = !s.empty() && letter(static_cast<unsigned char>(s[0]));
    for (std::size_t i = 1; valid && i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        valid = letter(c) || (c >= '0' && c <= '9') || c == '_';
    }
    if (!valid)
        throw std::invalid_argument("Identifier '" + s +
                                    "' is invalid - it should start with a letter and contain "
                                    "only letters, digits and underscores");
}

void ValidateArray(jarray array, const char* argument) {
    if (array == nullptr)
        throw std::invalid_argument(std::string("Argument '") + argument + "' must not be null");
}

namespace {

// How many native calls the thread is in; only the outermost takes the lock.
thread_local int nativeCallDepth = 0;
std::mutex nativeCallTurn;

} // namespace

NativeCall::NativeCall() {
    if (nativeCallDepth == 0) {
        nativeCallTurn.lock();
        QNL_errorHandler::Instance().Flush();
    }
    ++nativeCallDepth;
}

NativeCall::~NativeCall() {
    if (--nativeCallDepth == 0) nativeCallTurn.unlock();
}

void ThrowQuarnError(JNIEnv* env, int code, const char* operation) {
    if (env->ExceptionCheck()) return;
    std::string message = "QUARN error ";
    AppendInt(message, code);
    message += " in function ";
    message += operation;
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    const int entries = log.GetNumberOfErrors();
    if (entries > 0) {
        message += ". Logged information: ";
        for (int i = 0; i < entries; ++i) {
            const char* text = log.GetMessage(i);
            if (text != nullptr) message += text;
            message += '\n';
        }
        log.Flush();
    }
    ThrowJavaException(env, message.c_str());
}

void ReportError(JNIEnv* env, int code, const char* operation) {
    ThrowQuarnError(env, code, operation);
    throw JavaExceptionPending{};
}

void ThrowJavaException(JNIEnv* env, const std::exception& error) {
    ThrowJavaException(env, error.what());
}

void ThrowJavaException(JNIEnv* env, const char* message) {
    if (env->ExceptionCheck()) return;
    jclass type = env->FindClass("quarn/QUARNException");
    if (type == nullptr) return; // FindClass left its own error pending
    std::string text;
    try {
        text = ToModifiedUtf8(message != nullptr ? message : "");
    } catch (...) {
        text = "Out of memory while reporting an error";
    }
    env->ThrowNew(type, text.c_str());
    env->DeleteLocalRef(type);
}

} // namespace quarn::detail
