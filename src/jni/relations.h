#pragma once

// Internal: not part of the public interface.
//
// Arcs and relation lists of one arc layer (0 for the ordinary arcs, 1 for the cost arcs),
// shared by the native methods of both layers. Each checks the handles first and reports a
// refusal of the core through the error bridge as "AddArc" or "RemoveArc".

#include <jni.h>

namespace quarn::detail {

void AddArcChecked(JNIEnv* env, jobject self, int parent, int child, int layer);
void RemoveArcChecked(JNIEnv* env, jobject self, int parent, int child, int layer);
jintArray ParentsToJava(JNIEnv* env, jobject self, int node, int layer);
jintArray ChildrenToJava(JNIEnv* env, jobject self, int node, int layer);
jobjectArray ParentIdsToJava(JNIEnv* env, jobject self, int node, int layer);
jobjectArray ChildIdsToJava(JNIEnv* env, jobject self, int node, int layer);

} // namespace quarn::detail
