#pragma once

// Internal: not part of the public interface.
//
// Background knowledge between its host form (quarn.learning.BkKnowledge with arrays of
// BkArcInfo and BkTierInfo) and the (first, second) pairs of the native parameter blocks, and
// the construction of host objects that learning methods return.

#include <jni.h>

#include <utility>
#include <vector>

namespace quarn::detail {

using BkPairs = std::vector<std::pair<int, int>>;

// The three lists of a host BkKnowledge, all converted before any is returned; a null array
// is an empty list. A null element throws std::invalid_argument with its index.
void BkKnowledgeFromJava(JNIEnv* env, jobject bk, BkPairs& forced, BkPairs& forbidden,
                         BkPairs& tiers);
// A new host BkKnowledge holding the three lists.
jobject BkKnowledgeToJava(JNIEnv* env, const BkPairs& forced, const BkPairs& forbidden,
                          const BkPairs& tiers);
// Gives a host object made for a result that failed its native object back at once.
void CloseHostObject(JNIEnv* env, jobject object);

} // namespace quarn::detail
