#pragma once

// Internal: not part of the public interface.
//
// What every native method shares: reaching the native object of a host object, argument
// validation with the messages the host sees, conversions of text and arrays across the
// boundary, and the two bridges that turn a failure into quarn.QUARNException. Native methods
// run their body through Guarded, so no C++ exception ever reaches the virtual machine.

#include <jni.h>

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

class QNL_network;
class QNL_node;
class QNL_submodel;
class QNL_intArray;
class QNL_doubleArray;
class QNL_stringArray;

namespace quarn::detail {

// Thrown once a Java exception is pending (raised by a bridge or by the virtual machine): it
// unwinds to the entry point, which returns its neutral value and makes no further JNI call.
struct JavaExceptionPending {};

// The field identifier of Wrapper.ptrNative, set once by Wrapper.nativeStaticInit.
void SetNativePointerField(jfieldID field);

// Throws JavaExceptionPending when the virtual machine has an exception pending.
void CheckPending(JNIEnv* env);

// The native address of a host object; refuses a null object, a library not yet initialised
// and an object without a native object (address 0).
jlong GetNativePointer(JNIEnv* env, jobject object);
// The native network of a host Network.
QNL_network& NetworkOf(JNIEnv* env, jobject network);
// The native network of a DiagNetwork or ValueOfInfo host object, through its field "net".
QNL_network& GetNetworkOfWrapper(JNIEnv* env, jobject object);
// A ValueOfInfo or DiagNetwork object keeps handles and outcome indices of the network it
// works on; a change that would make them name other nodes or outcomes (`what`, e.g.
// "deleting a node") is refused while such an object is open, as closing the network is.
void RefuseWhileHeld(JNIEnv* env, jobject network, const char* what);
// How many ValueOfInfo or DiagNetwork objects work on a host Network.
int NetworkUsers(JNIEnv* env, jobject network);
// Sets a host object's native address to 0 if it still holds `address`, and says whether it
// did: of two closes that race, only one takes the object to delete.
bool TakeNativePointer(JNIEnv* env, jobject object, jlong address);
// Counts a ValueOfInfo or DiagNetwork object in (+1) or out (-1) as a user of a host Network,
// the count that RefuseWhileHeld and Network.close read. The native call that creates or
// deletes the object does it, under the lock, so that no call from another thread comes
// between the object and its hold on the network.
void ChangeNetworkUsers(JNIEnv* env, jobject network, int delta);
// The same for the network in the field "net" of a ValueOfInfo or DiagNetwork object.
void ChangeNetworkUsersOfWrapper(JNIEnv* env, jobject object, int delta);
// Nodes and submodels (the network's identifier is its main submodel's) share one space of
// identifiers: a file names them in one scope, and a reader refuses the second bearer. An
// identifier that a node or another submodel than `keeping` (null for a new one) bears is
// refused with `code` in `operation`.
void RefuseUsedSubmodelId(JNIEnv* env, const QNL_network& network, const char* id,
                          const QNL_submodel* keeping, int code, const char* operation);
// A new host Network with its own empty native network.
jobject NewJavaNetwork(JNIEnv* env);

// Text of the library (UTF-8; bytes that are not UTF-8 are taken as Latin-1) to and from the
// host. Null text becomes the empty string.
std::u16string LibraryTextToUtf16(const char* text);
std::string Utf16ToLibraryText(const char16_t* units, std::size_t length);
// The index of the first surrogate that is not half of a high-low pair, npos when none.
std::size_t FindLoneSurrogate(std::u16string_view units);
// The modified UTF-8 form that ThrowNew and the other char* entry points of JNI expect.
std::string ToModifiedUtf8(const std::string& text);
jstring TextToJava(JNIEnv* env, const char* text);

// A host string as library text. Refuses a null string, one holding U+0000 (which text of
// the library cannot carry) and one that is not valid UTF-16 (a lone surrogate), naming the
// argument in the message.
class UtfString {
public:
    UtfString(JNIEnv* env, jstring string, const char* argument);
    const char* c_str() const { return text.c_str(); }
    const std::string& str() const { return text; }

private:
    std::string text;
};

jintArray IntArrayToJava(JNIEnv* env, const QNL_intArray& items);
jdoubleArray DoubleArrayToJava(JNIEnv* env, const double* items, int count);
jdoubleArray DoubleArrayToJava(JNIEnv* env, const QNL_doubleArray& items);
jobjectArray StringArrayToJava(JNIEnv* env, const QNL_stringArray& items);
jobjectArray EmptyStringArray(JNIEnv* env);
// The identifiers of the nodes of a handle list; a handle that names no node gives "".
jobjectArray NodeIdsToJava(JNIEnv* env, const QNL_network& network, const QNL_intArray& nodes);

// Validators: they throw std::invalid_argument with the message the host sees.
QNL_node* ValidateNodeHandle(const QNL_network& network, int handle);
int ResolveNodeId(JNIEnv* env, const QNL_network& network, jstring id);
QNL_node* ValidateOutcomeIndex(const QNL_network& network, int node, int outcome);
int ResolveOutcomeId(JNIEnv* env, const QNL_network& network, int node, jstring id);
void ValidateIdentifier(JNIEnv* env, jstring id);
// A host array argument must not be null.
void ValidateArray(jarray array, const char* argument);
// The identifier of a node for messages ("" when it has none).
const char* NodeIdText(const QNL_node* node);

void AppendInt(std::string& text, int value);

// Error bridge: raises "QUARN error <code> in function <operation>" with the logged entries
// and empties the log. Nothing is raised over an exception already pending.
void ThrowQuarnError(JNIEnv* env, int code, const char* operation);
// The error bridge, then unwinding to the entry point.
[[noreturn]] void ReportError(JNIEnv* env, int code, const char* operation);
// Exception bridge: raises the exception's text unchanged.
void ThrowJavaException(JNIEnv* env, const std::exception& error);
void ThrowJavaException(JNIEnv* env, const char* message);

// Deletes a local reference when the scope ends, so loops and early exits never pile up
// references in the caller's frame.
class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject object) : env(env), object(object) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (object != nullptr) env->DeleteLocalRef(object);
    }
    jobject get() const { return object; }
    jclass type() const { return static_cast<jclass>(object); }

private:
    JNIEnv* env;
    jobject object;
};

// Marks a native method running. The library keeps process-wide state without locks (the
// error log, the random generators, the sampling counters), so a native method holds one
// process-wide lock from entry to exit, exceptions included: calls from several host threads
// take turns. A thread already in a native call does not take the lock again: a native
// method may construct or close a host object whose constructor or close() enters the library
// once more on the same thread.
// The outermost call empties the error log on entry, so that its exception reports only what
// this call logged and never a line left by an earlier, unrelated call; nested ones keep what
// the outer call has logged so far.
class NativeCall {
public:
    NativeCall();
    ~NativeCall();
    NativeCall(const NativeCall&) = delete;
    NativeCall& operator=(const NativeCall&) = delete;
};

// The common shape of a native method: the body runs inside one try block; any failure
// leaves a pending quarn.QUARNException and the method returns its neutral value (0, false,
// 0.0, null or nothing).
template <typename Body> auto Guarded(JNIEnv* env, Body&& body) -> decltype(body()) {
    using Result = decltype(body());
    const NativeCall call;
    try {
        return body();
    } catch (const JavaExceptionPending&) {
    } catch (const std::exception& error) {
        ThrowJavaException(env, error);
    } catch (...) {
        ThrowJavaException(env, "Unknown failure in native code");
    }
    if constexpr (!std::is_void_v<Result>) return Result{};
}

} // namespace quarn::detail
