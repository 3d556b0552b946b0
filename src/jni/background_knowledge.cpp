#include "jni/background_knowledge.h"

#include "jni/glue.h"

#include <stdexcept>
#include <string>

namespace quarn::detail {

namespace {

constexpr const char* kArcClass = "quarn/learning/BkArcInfo";
constexpr const char* kTierClass = "quarn/learning/BkTierInfo";
constexpr const char* kArcArray = "[Lquarn/learning/BkArcInfo;";
constexpr const char* kTierArray = "[Lquarn/learning/BkTierInfo;";

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

jclass FindHostClass(JNIEnv* env, const char* name) {
    jclass type = env->FindClass(name);
    CheckPending(env);
    return type;
}

BkPairs PairsFromJava(JNIEnv* env, jobject bk, const char* field, const char* arraySignature,
                      const char* className, const char* first, const char* second) {
    LocalRef bkType(env, env->GetObjectClass(bk));
    jfieldID arrayField = env->GetFieldID(bkType.type(), field, arraySignature);
    CheckPending(env);
    LocalRef array(env, env->GetObjectField(bk, arrayField));
    BkPairs pairs;
    if (array.get() == nullptr) return pairs;
    LocalRef type(env, FindHostClass(env, className));
    jfieldID firstField = env->GetFieldID(type.type(), first, "I");
    CheckPending(env);
    jfieldID secondField = env->GetFieldID(type.type(), second, "I");
    CheckPending(env);
    const jsize length = env->GetArrayLength(static_cast<jarray>(array.get()));
    for (jsize i = 0; i < length; ++i) {
        LocalRef item(env, env->GetObjectArrayElement(static_cast<jobjectArray>(array.get()), i));
        CheckPending(env);
        if (item.get() == nullptr)
            throw std::invalid_argument("BkKnowledge array element name can't be null (index " +
                                        std::to_string(i) + ")");
        pairs.emplace_back(env->GetIntField(item.get(), firstField),
                           env->GetIntField(item.get(), secondField));
    }
    return pairs;
}

jobjectArray PairsToJava(JNIEnv* env, const BkPairs& pairs, const char* className) {
    LocalRef type(env, FindHostClass(env, className));
    jmethodID constructor = env->GetMethodID(type.type(), "<init>", "(II)V");
    CheckPending(env);
    jobjectArray array =
        env->NewObjectArray(static_cast<jsize>(pairs.size()), type.type(), nullptr);
    CheckPending(env);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        LocalRef item(env,
                      env->NewObject(type.type(), constructor, pairs[i].first, pairs[i].second));
        CheckPending(env);
        env->SetObjectArrayElement(array, static_cast<jsize>(i), item.get());
        CheckPending(env);
    }
    return array;
}

} // namespace

void BkKnowledgeFromJava(JNIEnv* env, jobject bk, BkPairs& forced, BkPairs& forbidden,
                         BkPairs& tiers) {
    if (bk == nullptr) throw std::invalid_argument("Argument 'bk' must not be null");
    BkPairs newForced =
        PairsFromJava(env, bk, "forcedArcs", kArcArray, kArcClass, "parent", "child");
    BkPairs newForbidden =
        PairsFromJava(env, bk, "forbiddenArcs", kArcArray, kArcClass, "parent", "child");
    BkPairs newTiers = PairsFromJava(env, bk, "tiers", kTierArray, kTierClass, "variable", "tier");
    forced.swap(newForced);
    forbidden.swap(newForbidden);
    tiers.swap(newTiers);
}

jobject BkKnowledgeToJava(JNIEnv* env, const BkPairs& forced, const BkPairs& forbidden,
                          const BkPairs& tiers) {
    LocalRef forcedArray(env, PairsToJava(env, forced, kArcClass));
    LocalRef forbiddenArray(env, PairsToJava(env, forbidden, kArcClass));
    LocalRef tierArray(env, PairsToJava(env, tiers, kTierClass));
    LocalRef type(env, FindHostClass(env, "quarn/learning/BkKnowledge"));
    const std::string signature = std::string("(") + kArcArray + kArcArray + kTierArray + ")V";
    jmethodID constructor = env->GetMethodID(type.type(), "<init>", signature.c_str());
    CheckPending(env);
    jobject object = env->NewObject(type.type(), constructor, forcedArray.get(),
                                    forbiddenArray.get(), tierArray.get());
    CheckPending(env);
    return object;
}

void CloseHostObject(JNIEnv* env, jobject object) {
    LocalRef type(env, env->GetObjectClass(object));
    jmethodID close = env->GetMethodID(type.type(), "close", "()V");
    CheckPending(env);
    env->CallVoidMethod(object, close);
    CheckPending(env);
}

} // namespace quarn::detail
