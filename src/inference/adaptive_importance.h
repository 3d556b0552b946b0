#pragma once

#include <vector>

#include "inference/sampling_core.h"

class QNL_graphView;
class QNL_network;
struct QNL_episParams;

// The importance sampler of one component for the adaptive algorithms: the component's
// records parents first, the importance table Q and learned table L of every record, the
// belief accumulators and which records are ancestors of evidence. Q starts as a copy of the
// record's table; only ancestors of evidence ever get a Q of their own.
class QNL_importanceSampler {
public:
    // Lists the component's records parents first; GetStatus tells whether that worked.
    explicit QNL_importanceSampler(const QNL_graphView& view);

    int GetStatus() const { return status; }
    // Q := the tables, L := 0.
    int Init();
    // Identifier 7: Q learned from 25,000 preliminary samples, then the network's samples.
    int RunAdaptive();
    // Identifier 8: Q from `iterations` rounds of message passing and the cut-off of the
    // parameters, then the network's samples.
    int RunPropagated(int iterations, const QNL_episParams& params);
    // Identifier 9: the beliefs of `iterations` rounds of message passing; -26 on a belief
    // that sums to 0.0.
    int RunMessagePassing(int iterations);
    // Frees the tables.
    void Finish();

    // One sample over all records; its weight (0.0 as soon as a factor is 0.0). As a double
    // the weight of many findings can read 0.0 too; the kernels keep it scaled.
    double DrawSample();

private:
    // One sample over all records; false as soon as a factor is 0.0.
    bool DrawWeighted(quarn::detail::SampleWeight& weight);
    // The run's samples accumulated into the learned tables (learn) or the beliefs.
    void Accumulate(const quarn::detail::SampleWeight& weight, bool learn);
    // The network's number of samples, then the beliefs written; -5 when a record got no
    // weight or the weight rests on too few samples, and then nothing is written.
    int EstimateAndWrite();
    void CutOff(const quarn::detail::SamplingRecord& r);
    void Uniform(const quarn::detail::SamplingRecord& r);
    void EpisCutOff(const quarn::detail::SamplingRecord& r, const QNL_episParams& params);

    QNL_network* network = nullptr;
    int status = 0;
    quarn::detail::SamplingComponent records;
    std::vector<char> marked;
    std::vector<double> importance;
    quarn::detail::WeightSums learned;
    quarn::detail::WeightSums beliefs;
    double rate = 0.4;
};

// Identifiers 7, 8 and 9: every value without evidence is marked not valid, then every
// component of the reduction (one-record components too) goes through the kernel. 0, or -5
// when a component fails: its nodes and those of later components stay not valid.
int RunAdaptiveImportance(QNL_network& network);
int RunPropagatedImportance(QNL_network& network);
int RunMessagePassing(QNL_network& network);
