// Native methods of the host class quarn.learning.DataSet: index checks with the messages the
// host sees, cells as raw four-byte views, and the reader's and matcher's refusals.

#include "jni/glue.h"

#include "quarn_learning_DataSet.h"

#include "learning/dataset.h"
#include "model/network.h"
#include "model/string_array.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quarn::detail;

namespace {

QNL_dataset& DataOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_dataset*>(GetNativePointer(env, self));
}

void CheckVariable(const QNL_dataset& data, jint v) {
    const int count = data.getNumberOfVariables();
    if (v < 0) throw std::runtime_error("Negative variable index");
    if (v >= count) {
        if (count == 0) throw std::runtime_error("DataSet object has no variables");
        throw std::runtime_error("Invalid variable index " + std::to_string(v) +
                                 ", valid range is 0.." + std::to_string(count - 1));
    }
}

// The message puts the number right after "index", as callers have always seen it.
void CheckRecord(const QNL_dataset& data, jint v, jint r) {
    CheckVariable(data, v);
    const int count = data.getNumberOfRecords();
    if (r < 0) throw std::runtime_error("Negative record index");
    if (r >= count) {
        if (count == 0) throw std::runtime_error("DataSet object has no records");
        throw std::runtime_error("Invalid record index" + std::to_string(r) +
                                 ", valid range is 0.." + std::to_string(count - 1));
    }
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_quarn_learning_DataSet_createNative(JNIEnv* env, jobject, jobject) {
    return Guarded(env, [&] { return reinterpret_cast<jlong>(new QNL_dataset()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_deleteNative(JNIEnv* env, jobject,
                                                                jlong address) {
    Guarded(env, [&] { delete reinterpret_cast<QNL_dataset*>(address); });
}

JNIEXPORT jint JNICALL Java_quarn_learning_DataSet_getRecordCount(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(DataOf(env, self).getNumberOfRecords()); });
}

JNIEXPORT jint JNICALL Java_quarn_learning_DataSet_getVariableCount(JNIEnv* env, jobject self) {
    return Guarded(env,
                   [&] { return static_cast<jint>(DataOf(env, self).getNumberOfVariables()); });
}

JNIEXPORT jstring JNICALL Java_quarn_learning_DataSet_getVariableId(JNIEnv* env, jobject self,
                                                                    jint variable) {
    return Guarded(env, [&] {
        const QNL_dataset& data = DataOf(env, self);
        CheckVariable(data, variable);
        return TextToJava(env, data.getVariableId(variable).c_str());
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_readFile(JNIEnv* env, jobject self, jstring file,
                                                            jstring token, jint missingInt,
                                                            jfloat missingFloat) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        const UtfString name(env, file, "file");
        QNL_missingValueSpec spec;
        if (token != nullptr) spec.token = UtfString(env, token, "missingToken").str();
        spec.intMissing = missingInt;
        spec.floatMissing = missingFloat;
        if (!data.readFile(name.str(), &spec)) ReportError(env, -1, "readFile");
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_matchNetwork(JNIEnv* env, jobject self,
                                                                jobject net) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        if (net == nullptr) throw std::invalid_argument("Argument 'net' must not be null");
        std::string error;
        if (!data.matchNetwork(NetworkOf(env, net), error)) throw std::runtime_error(error);
    });
}

JNIEXPORT jint JNICALL Java_quarn_learning_DataSet_getInt(JNIEnv* env, jobject self, jint variable,
                                                          jint record) {
    return Guarded(env, [&] {
        const QNL_dataset& data = DataOf(env, self);
        CheckRecord(data, variable, record);
        return static_cast<jint>(data.getCell(variable, record).i);
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_setInt(JNIEnv* env, jobject self, jint variable,
                                                          jint record, jint value) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        CheckRecord(data, variable, record);
        data.setCell(variable, record, QNL_IntCell(value));
    });
}

JNIEXPORT jfloat JNICALL Java_quarn_learning_DataSet_getFloat(JNIEnv* env, jobject self,
                                                              jint variable, jint record) {
    return Guarded(env, [&] {
        const QNL_dataset& data = DataOf(env, self);
        CheckRecord(data, variable, record);
        return static_cast<jfloat>(data.getCell(variable, record).f);
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_setFloat(JNIEnv* env, jobject self,
                                                            jint variable, jint record,
                                                            jfloat value) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        CheckRecord(data, variable, record);
        data.setCell(variable, record, QNL_FloatCell(value));
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_addIntVariable(JNIEnv* env, jobject self,
                                                                  jstring id, jint missing) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        const UtfString text(env, id, "id");
        if (!data.addIntVariable(text.str(), nullptr, missing))
            ReportError(env, -1, "addIntVariable");
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_addFloatVariable(JNIEnv* env, jobject self,
                                                                    jstring id, jfloat missing) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        const UtfString text(env, id, "id");
        if (!data.addFloatVariable(text.str(), nullptr, missing))
            ReportError(env, -1, "addFloatVariable");
    });
}

JNIEXPORT jint JNICALL Java_quarn_learning_DataSet_getNodeHandle(JNIEnv* env, jobject self,
                                                                 jint variable) {
    return Guarded(env, [&] {
        const QNL_dataset& data = DataOf(env, self);
        CheckVariable(data, variable);
        return static_cast<jint>(data.getNodeHandle(variable));
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_setNodeHandle(JNIEnv* env, jobject self,
                                                                 jint variable, jint handle) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        CheckVariable(data, variable);
        if (!data.setNodeHandle(variable, handle)) ReportError(env, -1, "setNodeHandle");
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_learning_DataSet_getStateNames(JNIEnv* env, jobject self,
                                                                         jint variable) {
    return Guarded(env, [&] {
        const QNL_dataset& data = DataOf(env, self);
        CheckVariable(data, variable);
        QNL_stringArray names;
        for (const std::string& name : data.getStateNames(variable))
            if (names.Add(name.c_str()) != 0) throw std::bad_alloc();
        return StringArrayToJava(env, names);
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_setStateNames(JNIEnv* env, jobject self,
                                                                 jint variable,
                                                                 jobjectArray names) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        CheckVariable(data, variable);
        ValidateArray(names, "names");
        const jsize count = env->GetArrayLength(names);
        std::vector<std::string> texts;
        for (jsize i = 0; i < count; ++i) {
            auto element = static_cast<jstring>(env->GetObjectArrayElement(names, i));
            CheckPending(env);
            if (element == nullptr)
                throw std::invalid_argument("State name can't be null (index " + std::to_string(i) +
                                            ")");
            std::string text;
            try {
                text = UtfString(env, element, "names").str();
            } catch (...) {
                env->DeleteLocalRef(element);
                throw;
            }
            env->DeleteLocalRef(element);
            texts.push_back(std::move(text));
        }
        if (!data.setStateNames(variable, texts)) ReportError(env, -1, "setStateNames");
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_DataSet_addEmptyRecord(JNIEnv* env, jobject self) {
    Guarded(env, [&] {
        QNL_dataset& data = DataOf(env, self);
        std::vector<QNL_datasetCell> record;
        for (int v = 0; v < data.getNumberOfVariables(); ++v)
            record.push_back(data.getMissingValue(v));
        if (!data.addRecord(record)) ReportError(env, -1, "addEmptyRecord");
    });
}

} // extern "C"
