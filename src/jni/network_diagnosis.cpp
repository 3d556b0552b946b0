#include "jni/glue.h"

#include "quarn_Network.h"

#include "definitions/extra_definition.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <new>
#include <stdexcept>
#include <string>

using namespace quarn::detail;

namespace {

using Extra = QNL_extraDefinition;

QNL_network& Net(JNIEnv* env, jobject self) {
    return NetworkOf(env, self);
}

int NodeOf(JNIEnv* env, jobject self, jstring id) {
    return ResolveNodeId(env, Net(env, self), id);
}

int OutcomeOf(JNIEnv* env, jobject self, int node, jstring id) {
    return ResolveOutcomeId(env, Net(env, self), node, id);
}

Extra& ExtraOf(const QNL_node* node) {
    Extra* extra = node->GetExtraDefinition();
    if (extra == nullptr)
        throw std::runtime_error(std::string("Node '") + NodeIdText(node) +
                                 "' has no diagnostic attributes");
    return *extra;
}

Extra& NodeExtra(JNIEnv* env, jobject self, int node) {
    return ExtraOf(ValidateNodeHandle(Net(env, self), node));
}

Extra& OutcomeExtra(JNIEnv* env, jobject self, int node, int outcome) {
    return ExtraOf(ValidateOutcomeIndex(Net(env, self), node, outcome));
}

jstring Text(JNIEnv* env, const char* text) {
    return TextToJava(env, text != nullptr ? text : "");
}

// The bodies of the per-outcome methods, on a checked node handle and outcome index.

jstring GetFix(JNIEnv* env, jobject self, int node, int outcome) {
    return Text(env, OutcomeExtra(env, self, node, outcome).GetOutcomeFix(outcome));
}

jstring GetDescription(JNIEnv* env, jobject self, int node, int outcome) {
    return Text(env, OutcomeExtra(env, self, node, outcome).GetOutcomeDescription(outcome));
}

jstring GetLabel(JNIEnv* env, jobject self, int node, int outcome) {
    return Text(env, OutcomeExtra(env, self, node, outcome).GetOutcomeLabels().GetString(outcome));
}

jboolean IsFault(JNIEnv* env, jobject self, int node, int outcome) {
    return OutcomeExtra(env, self, node, outcome).IsFaultOutcome(outcome) == 1;
}

void SetFix(JNIEnv* env, jobject self, int node, int outcome, jstring value) {
    const UtfString text(env, value, "fix");
    OutcomeExtra(env, self, node, outcome).SetOutcomeFix(outcome, text.c_str());
}

void SetDescription(JNIEnv* env, jobject self, int node, int outcome, jstring value) {
    const UtfString text(env, value, "description");
    OutcomeExtra(env, self, node, outcome).SetOutcomeDescription(outcome, text.c_str());
}

// A label another node or outcome already has is refused by the definition; the host hears
// of it rather than finding the old label still in place later.
void SetLabel(JNIEnv* env, jobject self, int node, int outcome, jstring value) {
    const UtfString text(env, value, "label");
    Extra& extra = OutcomeExtra(env, self, node, outcome);
    QNL_errorHandler::Instance().Flush();
    const int status = extra.SetOutcomeLabel(outcome, text.c_str());
    if (status != 0) ReportError(env, status, "SetOutcomeLabel");
}

void SetFault(JNIEnv* env, jobject self, int node, int outcome, jboolean fault) {
    OutcomeExtra(env, self, node, outcome).SetFaultOutcome(outcome, fault == JNI_TRUE);
}

// A negative index switches the default off and keeps the stored index.
void SetDefault(JNIEnv* env, jobject self, int node, int outcome) {
    if (outcome < 0) {
        Extra& extra = NodeExtra(env, self, node);
        extra.SetFlags(extra.IsRanked(), extra.IsMandatory(), 0);
        return;
    }
    Extra& extra = OutcomeExtra(env, self, node, outcome);
    extra.SetDefaultOutcome(outcome);
    extra.SetFlags(extra.IsRanked(), extra.IsMandatory(), 1);
}

} // namespace

// Each per-outcome method in its four overloads: (handle, index), (identifier, index),
// (handle, outcome identifier), (identifier, outcome identifier); the node is resolved first.
#define QUARN_OUTCOME_GETTER(Ret, name, body)                                                      \
    JNIEXPORT Ret JNICALL Java_quarn_Network_##name##__II(JNIEnv* env, jobject self, jint node,    \
                                                          jint outcome) {                          \
        return Guarded(env, [&] { return body(env, self, node, outcome); });                       \
    }                                                                                              \
    JNIEXPORT Ret JNICALL Java_quarn_Network_##name##__Ljava_lang_String_2I(                       \
        JNIEnv* env, jobject self, jstring node, jint outcome) {                                   \
        return Guarded(env, [&] { return body(env, self, NodeOf(env, self, node), outcome); });    \
    }                                                                                              \
    JNIEXPORT Ret JNICALL Java_quarn_Network_##name##__ILjava_lang_String_2(                       \
        JNIEnv* env, jobject self, jint node, jstring outcome) {                                   \
        return Guarded(                                                                            \
            env, [&] { return body(env, self, node, OutcomeOf(env, self, node, outcome)); });      \
    }                                                                                              \
    JNIEXPORT Ret JNICALL Java_quarn_Network_##name##__Ljava_lang_String_2Ljava_lang_String_2(     \
        JNIEnv* env, jobject self, jstring node, jstring outcome) {                                \
        return Guarded(env, [&] {                                                                  \
            const int n = NodeOf(env, self, node);                                                 \
            return body(env, self, n, OutcomeOf(env, self, n, outcome));                           \
        });                                                                                        \
    }

#define QUARN_OUTCOME_SETTER(name, Mangled, JType, body)                                           \
    JNIEXPORT void JNICALL Java_quarn_Network_##name##__II##Mangled(                               \
        JNIEnv* env, jobject self, jint node, jint outcome, JType value) {                         \
        Guarded(env, [&] { body(env, self, node, outcome, value); });                              \
    }                                                                                              \
    JNIEXPORT void JNICALL Java_quarn_Network_##name##__Ljava_lang_String_2I##Mangled(             \
        JNIEnv* env, jobject self, jstring node, jint outcome, JType value) {                      \
        Guarded(env, [&] { body(env, self, NodeOf(env, self, node), outcome, value); });           \
    }                                                                                              \
    JNIEXPORT void JNICALL Java_quarn_Network_##name##__ILjava_lang_String_2##Mangled(             \
        JNIEnv* env, jobject self, jint node, jstring outcome, JType value) {                      \
        Guarded(env, [&] { body(env, self, node, OutcomeOf(env, self, node, outcome), value); });  \
    }                                                                                              \
    JNIEXPORT void JNICALL                                                                         \
        Java_quarn_Network_##name##__Ljava_lang_String_2Ljava_lang_String_2##Mangled(              \
            JNIEnv* env, jobject self, jstring node, jstring outcome, JType value) {               \
        Guarded(env, [&] {                                                                         \
            const int n = NodeOf(env, self, node);                                                 \
            body(env, self, n, OutcomeOf(env, self, n, outcome), value);                           \
        });                                                                                        \
    }

QUARN_OUTCOME_GETTER(jstring, getOutcomeFix, GetFix)
QUARN_OUTCOME_GETTER(jstring, getOutcomeDescription, GetDescription)
QUARN_OUTCOME_GETTER(jstring, getOutcomeLabel, GetLabel)
QUARN_OUTCOME_GETTER(jboolean, isFaultOutcome, IsFault)
QUARN_OUTCOME_SETTER(setOutcomeFix, Ljava_lang_String_2, jstring, SetFix)
QUARN_OUTCOME_SETTER(setOutcomeDescription, Ljava_lang_String_2, jstring, SetDescription)
QUARN_OUTCOME_SETTER(setOutcomeLabel, Ljava_lang_String_2, jstring, SetLabel)
QUARN_OUTCOME_SETTER(setFaultOutcome, Z, jboolean, SetFault)
QUARN_OUTCOME_GETTER(void, setDefaultOutcome, SetDefault)
#undef QUARN_OUTCOME_GETTER
#undef QUARN_OUTCOME_SETTER

// The per-node methods: the handle overload and the identifier overload calling it.
#define QUARN_NODE_GETTER(Ret, name, expression)                                                   \
    JNIEXPORT Ret JNICALL Java_quarn_Network_##name##__I(JNIEnv* env, jobject self, jint node) {   \
        return Guarded(env, [&]() -> Ret {                                                         \
            Extra& extra = NodeExtra(env, self, node);                                             \
            return expression;                                                                     \
        });                                                                                        \
    }                                                                                              \
    JNIEXPORT Ret JNICALL Java_quarn_Network_##name##__Ljava_lang_String_2(                        \
        JNIEnv* env, jobject self, jstring node) {                                                 \
        return Guarded(env, [&] {                                                                  \
            return Java_quarn_Network_##name##__I(env, self, NodeOf(env, self, node));             \
        });                                                                                        \
    }

#define QUARN_NODE_SETTER(name, Mangled, JType, statement)                                         \
    JNIEXPORT void JNICALL Java_quarn_Network_##name##__I##Mangled(JNIEnv* env, jobject self,      \
                                                                   jint node, JType value) {       \
        Guarded(env, [&] {                                                                         \
            Extra& extra = NodeExtra(env, self, node);                                             \
            statement;                                                                             \
        });                                                                                        \
    }                                                                                              \
    JNIEXPORT void JNICALL Java_quarn_Network_##name##__Ljava_lang_String_2##Mangled(              \
        JNIEnv* env, jobject self, jstring node, JType value) {                                    \
        Guarded(env, [&] {                                                                         \
            Java_quarn_Network_##name##__I##Mangled(env, self, NodeOf(env, self, node), value);    \
        });                                                                                        \
    }

namespace {

// No file format can write a diagnosis type other than target, observation or auxiliary.
void SetDiagType(Extra& extra, int type) {
    if (type < Extra::TARGET || type > Extra::AUXILIARY)
        throw std::invalid_argument("Invalid diagnosis type: " + std::to_string(type) +
                                    " - it should be 0, 1 or 2");
    extra.SetDiagnosisType(type);
}

jstring DefaultOutcomeId(JNIEnv* env, jobject self, int node, const Extra& extra) {
    if (!extra.IsSetAsDefault()) return nullptr;
    const int index = extra.GetDefaultOutcome();
    const QNL_nodeDefinition* definition =
        ValidateOutcomeIndex(Net(env, self), node, index)->GetDefinition();
    return TextToJava(env, definition->GetOutcomeIds()->GetString(index));
}

} // namespace

QUARN_NODE_GETTER(jint, getNodeDiagType, extra.GetDiagnosisType())
QUARN_NODE_SETTER(setNodeDiagType, I, jint, SetDiagType(extra, value))
QUARN_NODE_GETTER(jint, getDefaultOutcome, extra.IsSetAsDefault() ? extra.GetDefaultOutcome() : -1)
QUARN_NODE_GETTER(jstring, getDefaultOutcomeId, DefaultOutcomeId(env, self, node, extra))
QUARN_NODE_GETTER(jboolean, isRanked, extra.IsRanked() != 0)
QUARN_NODE_SETTER(setRanked, Z, jboolean,
                  extra.SetFlags(value == JNI_TRUE, extra.IsMandatory(), extra.IsSetAsDefault()))
QUARN_NODE_GETTER(jboolean, isMandatory, extra.IsMandatory() != 0)
QUARN_NODE_SETTER(setMandatory, Z, jboolean,
                  extra.SetFlags(extra.IsRanked(), value == JNI_TRUE, extra.IsSetAsDefault()))
QUARN_NODE_GETTER(jstring, getNodeQuestion, Text(env, extra.GetQuestion()))
QUARN_NODE_SETTER(setNodeQuestion, Ljava_lang_String_2, jstring,
                  const UtfString text(env, value, "question");
                  if (extra.SetQuestion(text.c_str()) != 0) throw std::bad_alloc())
#undef QUARN_NODE_GETTER
#undef QUARN_NODE_SETTER
